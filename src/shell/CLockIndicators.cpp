#include "CLockIndicators.h"

#include <QGuiApplication>

#include <dlfcn.h>

// The X11 library is opened at run time rather than linked: it is already in the process when
// Qt runs on X11, and the program then needs no X11 headers or libraries to build.
namespace {

using XAtom = unsigned long;
using InternAtomFn = XAtom (*)(void* display, const char* name, int onlyIfExists);
using GetNamedIndicatorFn = int (*)(void* display, XAtom name, int* index, int* state,
                                    void* map, int* real);

struct X11Functions {
    InternAtomFn internAtom = nullptr;
    GetNamedIndicatorFn getNamedIndicator = nullptr;
    XAtom atoms[3] = {0, 0, 0};
    void* atomsDisplay = nullptr;
};

X11Functions* Functions()
{
    static X11Functions* functions = [] () -> X11Functions* {
        void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        if (!library)
            library = dlopen("libX11.so.6", RTLD_LAZY);
        if (!library)
            return nullptr;
        auto* f = new X11Functions;
        f->internAtom = reinterpret_cast<InternAtomFn>(dlsym(library, "XInternAtom"));
        f->getNamedIndicator =
            reinterpret_cast<GetNamedIndicatorFn>(dlsym(library, "XkbGetNamedIndicator"));
        if (!f->internAtom || !f->getNamedIndicator) {
            delete f;
            return nullptr;
        }
        return f;
    }();
    return functions;
}

} // namespace

std::optional<CLockIndicators::State> CLockIndicators::Query()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return std::nullopt;
    X11Functions* f = Functions();
    if (!f)
        return std::nullopt;
    void* display = x11->display();
    if (f->atomsDisplay != display) {
        static const char* const names[3] = {"Caps Lock", "Num Lock", "Scroll Lock"};
        for (int i = 0; i < 3; ++i)
            f->atoms[i] = f->internAtom(display, names[i], 0);
        f->atomsDisplay = display;
    }
    bool on[3] = {false, false, false};
    for (int i = 0; i < 3; ++i) {
        int state = 0;
        if (f->atoms[i] && f->getNamedIndicator(display, f->atoms[i], nullptr, &state, nullptr,
                                                nullptr))
            on[i] = state != 0;
    }
    return State{on[0], on[1], on[2]};
}
