#pragma once
// What the program's dialogs and message boxes share about how they stand among its windows.

class QWidget;

// Makes `dialog` modal to its own window only (the window it belongs to, and that window's
// other dialogs), not to the whole program: the notification area's icon is a window of its
// own, and it must still take clicks while a dialog is open, since it is the way back to a
// hidden window.
void MakeWindowModal(QWidget& dialog);
