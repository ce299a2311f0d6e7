#pragma once

#include "Platform/BgraFrame.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

// The TV's own screen as tv-sim streams it: eight vertical colour bars that move sideways with each
// frame, and a counter block in the top-left corner holding the frame number as kCounterBits
// black-or-white cells, so whoever decodes a picture can tell which frame it is and draw that frame
// again to compare.
class TestPattern {
public:
    static constexpr int kCounterBits = 16;
    // The frame a still screen shows.
    static constexpr uint32_t kStillFrame = 0;

    // Draws frame number index at width x height into frame (resized to fit); the counter holds the
    // number modulo 2^kCounterBits.
    static void draw(uint32_t index, int width, int height, BgraFrame& frame);

    // The frame number held by a decoded picture's luma plane (rows `stride` bytes apart); nullopt
    // when the picture is too small to hold the counter block.
    static std::optional<uint32_t> readCounter(std::span<const uint8_t> luma, int stride, int width, int height);

    // Writes the frame as a binary PPM (RGB), the form image tools read without being told its size;
    // false when the file cannot be written.
    static bool writePpm(const BgraFrame& frame, const std::filesystem::path& path);

private:
    struct Cells {
        int size = 0;
        int margin = 0;
    };
    // The counter's cells for a picture of this size: big enough to survive compression.
    static Cells cells(int height);
    static bool counterFits(int width, int height);
};
