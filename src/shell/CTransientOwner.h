#pragma once
// Which window a dialog belongs to, as the X11 window manager knows it (WM_TRANSIENT_FOR): the
// manager keeps a dialog above the window it belongs to, in that window's layer. Qt writes it
// once, when the dialog shows; when the window's native window is made anew later (Qt does so
// when the window comes back with a changed stay-on-top state), the dialog still names the one
// that is gone, and the manager leaves it beneath the window. Tie() names the new one.
// Elsewhere than on X11 it does nothing.

class QWidget;

class CTransientOwner {
public:
    // Tells the window manager that `dialog` belongs to `owner`'s native window as it is now.
    static void Tie(const QWidget& dialog, const QWidget& owner);
};
