#pragma once

#include "Platform/BgraFrame.h"

#include <cstdint>

// Copies a picture of 4-byte pixels that another program laid out (a compositor's shared memory, a
// PipeWire buffer) into a frame of ours, row by row: red and blue swapped for RGBx/RGBA layouts, and
// rows turned upside down where the source holds them bottom first.
class PixelRows {
public:
    static void copy(const uint8_t* source, int width, int height, int stride, bool swapRedBlue, bool bottomFirst,
                     BgraFrame& frame);
};
