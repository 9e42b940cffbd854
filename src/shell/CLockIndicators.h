#pragma once
// The state of the Caps, Num and Scroll Lock indicators for the status bar's three panes.
// Known only on X11 (the keyboard extension's named indicators, read through the display the
// application already holds); elsewhere nothing is known and the panes stay empty.

#include <optional>

class CLockIndicators {
public:
    struct State {
        bool caps = false;
        bool num = false;
        bool scroll = false;
    };

    // The current state, or nothing when the platform does not tell it.
    static std::optional<State> Query();
};
