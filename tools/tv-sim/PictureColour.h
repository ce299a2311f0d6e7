#pragma once

#include <cstdint>
#include <optional>

struct AVFrame;

// The colour of one pixel of a decoded picture, for tests that check what the TV shows.
class PictureColour {
public:
    // 0xRRGGBB at (x, y) of a 4:2:0 picture, read with the BT.601 limited-range matrix the sender's
    // conversion uses; nullopt for another pixel format or a point outside the picture.
    static std::optional<uint32_t> rgbAt(const AVFrame& picture, int x, int y);
};
