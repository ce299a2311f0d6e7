#pragma once

#include "Platform/BgraFrame.h"
#include "Utils/Rect.h"

#include <cstdint>
#include <optional>

// An extra screen beside the main display that holds no picture of its own: windows moved onto it
// show only when it is cast. Removed when the object goes. Every method is safe from any thread.
class VirtualDisplay {
public:
    // The screens as they are now.
    struct Layout {
        // The main display: its id (0 for the whole screen where no display list exists) and frame.
        uint32_t mainId = 0;
        Rect mainFrame;
        // The virtual display's frame; nullopt when it is no longer among the screens.
        std::optional<Rect> frame;
    };

    virtual ~VirtualDisplay() = default;

    // Its id in the display list, which a capture takes to cast it.
    virtual uint32_t displayId() const = 0;
    // Its height in pixels, fixed when it was made.
    virtual int height() const = 0;
    // Nullopt when the screens cannot be told (the display server is gone).
    virtual std::optional<Layout> layout() = 0;
    // Moves it to (x, y), making room for it; false, logged, when the server refuses.
    virtual bool placeAt(int x, int y) = 0;
    // Its picture now, or the main display's when it cannot be taken; empty when neither can.
    virtual BgraFrame snapshot() = 0;
};
