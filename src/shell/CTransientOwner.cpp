#include "CTransientOwner.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <dlfcn.h>

// The X11 library is opened at run time, as CLockIndicators does: it is in the process when Qt
// runs on X11, and nothing is needed to build.
namespace {

using ChangePropertyFn = int (*)(void* display, unsigned long window, unsigned long property,
                                 unsigned long type, int format, int mode,
                                 const unsigned char* data, int count);
using FlushFn = int (*)(void* display);

struct X11Functions {
    ChangePropertyFn changeProperty = nullptr;
    FlushFn flush = nullptr;
};

const X11Functions* Functions()
{
    static const X11Functions* functions = []() -> const X11Functions* {
        void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        if (!library)
            return nullptr;
        auto* f = new X11Functions;
        f->changeProperty = reinterpret_cast<ChangePropertyFn>(dlsym(library, "XChangeProperty"));
        f->flush = reinterpret_cast<FlushFn>(dlsym(library, "XFlush"));
        if (!f->changeProperty || !f->flush) {
            delete f;
            return nullptr;
        }
        return f;
    }();
    return functions;
}

// Predefined atoms of the X protocol.
constexpr unsigned long kAtomWindow = 33;          // XA_WINDOW
constexpr unsigned long kAtomWmTransientFor = 68; // XA_WM_TRANSIENT_FOR
constexpr int kPropModeReplace = 0;

} // namespace

void CTransientOwner::Tie(const QWidget& dialog, const QWidget& owner)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    const QWindow* dialogWindow = dialog.windowHandle();
    const QWindow* ownerWindow = owner.windowHandle();
    if (!x11 || !x11->display() || !dialogWindow || !ownerWindow || !dialogWindow->handle() ||
        !ownerWindow->handle())
        return;
    const X11Functions* f = Functions();
    if (!f)
        return;
    // A 32-bit property is passed as an array of longs (Xlib's rule).
    const unsigned long ownerId = ownerWindow->winId();
    f->changeProperty(x11->display(), dialogWindow->winId(), kAtomWmTransientFor, kAtomWindow, 32,
                      kPropModeReplace, reinterpret_cast<const unsigned char*>(&ownerId), 1);
    f->flush(x11->display());
}
