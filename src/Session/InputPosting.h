#pragma once

#include <cstdint>
#include <functional>

// How the TV's control posts mouse and key events into this computer's input. Called on the main
// thread; an empty member takes the default (PostEvent on $DISPLAY; WaylandPostEvent in a Wayland session).
struct InputPosting {
    // Button 0 left, 1 right; types 1 left down, 2 left up, 3 right down, 4 right up, 6 left
    // dragged; the point in X screen coordinates.
    std::function<bool(uint32_t button, uint32_t type, double x, double y, int64_t clickCount)> postMouseEvent;
    // A Mac virtual key code, pressed or released.
    std::function<bool(uint16_t keyCode, bool keyDown, uint64_t flags)> postKeyboardEvent;

    // This, with the defaults in place of what is empty.
    InputPosting withDefaults() const;
};
