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
using GetIndicatorStateFn = int (*)(void* display, unsigned device, unsigned* state);
constexpr unsigned kUseCoreKeyboard = 0x0100;

struct X11Functions {
    InternAtomFn internAtom = nullptr;
    GetNamedIndicatorFn getNamedIndicator = nullptr;
    GetIndicatorStateFn getIndicatorState = nullptr;
    int indices[3] = {-1, -1, -1}; // of the three named indicators; -1: the keyboard has none
    void* indicesDisplay = nullptr;
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
        f->getIndicatorState =
            reinterpret_cast<GetIndicatorStateFn>(dlsym(library, "XkbGetIndicatorState"));
        if (!f->internAtom || !f->getNamedIndicator || !f->getIndicatorState) {
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
    // The status bar asks several times a second: the names are looked up once per display,
    // and each update is then a single request for the state of all indicators.
    if (f->indicesDisplay != display) {
        static const char* const names[3] = {"Caps Lock", "Num Lock", "Scroll Lock"};
        for (int i = 0; i < 3; ++i) {
            const XAtom atom = f->internAtom(display, names[i], 0);
            int index = -1;
            int state = 0;
            if (!atom || !f->getNamedIndicator(display, atom, &index, &state, nullptr, nullptr))
                index = -1;
            f->indices[i] = index >= 0 && index < 32 ? index : -1;
        }
        f->indicesDisplay = display;
    }
    unsigned lit = 0;
    if (f->getIndicatorState(display, kUseCoreKeyboard, &lit) != 0) // Success is 0
        return std::nullopt;
    bool on[3] = {false, false, false};
    for (int i = 0; i < 3; ++i)
        on[i] = f->indices[i] >= 0 && ((lit >> f->indices[i]) & 1u);
    return State{on[0], on[1], on[2]};
}
