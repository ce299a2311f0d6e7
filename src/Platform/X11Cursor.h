#pragma once

#include "Platform/BgraFrame.h"

#include <optional>

class X11Display;

// The pointer's position and the cursor's picture (XFixes), and their drawing into a captured frame,
// since screen capture does not include the cursor.
class X11Cursor {
public:
    struct Image {
        int x = 0; // pointer position in screen coordinates
        int y = 0;
        int hotX = 0; // the point of the picture that sits on the pointer position
        int hotY = 0;
        BgraFrame pixels; // premultiplied alpha
        int left() const { return x - hotX; }
        int top() const { return y - hotY; }
    };

    explicit X11Cursor(X11Display& display);

    // The cursor now; nullopt (logged once) without XFixes or when the server does not answer.
    std::optional<Image> current();

    // Blends `cursor` (premultiplied alpha) over `frame` with the cursor's top-left corner at
    // (left, top) in the frame; what falls outside the frame is left out.
    static void draw(const BgraFrame& cursor, BgraFrame& frame, int left, int top);

private:
    X11Display& display_;
    bool failureLogged_ = false;
};
