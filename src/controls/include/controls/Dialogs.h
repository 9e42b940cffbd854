#pragma once
// What the program's dialogs and message boxes share about how they stand among its windows
// and on the screen.

#include <QSize>

class QMessageBox;
class QWidget;

// Makes `dialog` modal to its own window only (the window it belongs to, and that window's
// other dialogs), not to the whole program: the notification area's icon is a window of its
// own, and it must still take clicks while a dialog is open, since it is the way back to a
// hidden window.
void MakeWindowModal(QWidget& dialog);

// The largest size `dialog` can have, its window frame left aside, and still lie within the
// available area of the screen it shows on (its window's screen; for a dialog of its own, the
// screen under the mouse). Before the window manager has framed it, its frame is taken to be
// its owner's, or what the style draws around a window.
QSize RoomOnScreen(const QWidget& dialog);

// Once `dialog` is on screen with its real frame: made smaller (not below its minimum size)
// where it is larger than the available area, and moved into that area.
void KeepOnScreen(QWidget& dialog);

// Runs a message box of the program: modal to its window, at least as wide as its caption
// needs in a title bar, and no wider than the screen (a long path wraps). Returns what exec()
// returns.
int ExecMessageBox(QMessageBox& box);
