#include "Platform/X11Cursor.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>

namespace {

// One premultiplied channel over another: source + destination × (1 − source alpha).
uint8_t over(uint8_t source, uint8_t destination, uint8_t sourceAlpha)
{
    const unsigned blended = source + (destination * (255u - sourceAlpha) + 127u) / 255u;
    return static_cast<uint8_t>(std::min(blended, 255u));
}

} // namespace

X11Cursor::X11Cursor(X11Display& display) : display_(display)
{
}

std::optional<X11Cursor::Image> X11Cursor::current()
{
    if (!display_.hasFixes() || display_.lost()) {
        if (!failureLogged_) {
            PLOG("cursor image not available (XFixes %d)", display_.hasFixes());
            failureLogged_ = true;
        }
        return std::nullopt;
    }
    XFixesCursorImage* cursor = nullptr;
    {
        X11ErrorTrap trap(display_.handle());
        cursor = XFixesGetCursorImage(display_.handle());
        if (trap.sync().code != 0 && cursor != nullptr) {
            XFree(cursor);
            cursor = nullptr;
        }
    }
    if (cursor == nullptr) {
        if (!failureLogged_) {
            PLOG("X server gave no cursor image");
            failureLogged_ = true;
        }
        return std::nullopt;
    }
    Image image;
    image.x = cursor->x;
    image.y = cursor->y;
    image.hotX = cursor->xhot;
    image.hotY = cursor->yhot;
    image.pixels.resize(cursor->width, cursor->height);
    // Xlib hands each 32-bit ARGB pixel in an unsigned long.
    for (int y = 0; y < image.pixels.height; ++y) {
        for (int x = 0; x < image.pixels.width; ++x) {
            const unsigned long argb = cursor->pixels[static_cast<size_t>(y) * cursor->width + static_cast<size_t>(x)];
            uint8_t* out = image.pixels.pixel(x, y);
            out[0] = static_cast<uint8_t>(argb);
            out[1] = static_cast<uint8_t>(argb >> 8);
            out[2] = static_cast<uint8_t>(argb >> 16);
            out[3] = static_cast<uint8_t>(argb >> 24);
        }
    }
    XFree(cursor);
    return image;
}

void X11Cursor::draw(const BgraFrame& cursor, BgraFrame& frame, int left, int top)
{
    if (cursor.empty() || frame.empty()) {
        return;
    }
    // The overlap of the cursor and the frame, in the cursor's coordinates; 64-bit so that far-off
    // positions cannot overflow.
    const int64_t fromX = std::max<int64_t>(0, -int64_t{left});
    const int64_t fromY = std::max<int64_t>(0, -int64_t{top});
    const int64_t toX = std::min<int64_t>(cursor.width, int64_t{frame.width} - left);
    const int64_t toY = std::min<int64_t>(cursor.height, int64_t{frame.height} - top);
    for (int64_t y = fromY; y < toY; ++y) {
        for (int64_t x = fromX; x < toX; ++x) {
            const uint8_t* source = cursor.pixel(static_cast<int>(x), static_cast<int>(y));
            const uint8_t alpha = source[3];
            uint8_t* destination = frame.pixel(static_cast<int>(left + x), static_cast<int>(top + y));
            for (int channel = 0; channel < 4; ++channel) {
                destination[channel] = over(source[channel], destination[channel], alpha);
            }
        }
    }
}
