#include "Platform/PixelRows.h"

#include <cstring>

void PixelRows::copy(const uint8_t* source, int width, int height, int stride, bool swapRedBlue, bool bottomFirst,
                     BgraFrame& frame)
{
    frame.resize(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* from =
            source + static_cast<size_t>(bottomFirst ? height - 1 - y : y) * static_cast<size_t>(stride);
        uint8_t* to = frame.pixel(0, y);
        if (!swapRedBlue) {
            std::memcpy(to, from, static_cast<size_t>(width) * 4);
            continue;
        }
        for (int x = 0; x < width; ++x, from += 4, to += 4) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            to[3] = from[3];
        }
    }
}
