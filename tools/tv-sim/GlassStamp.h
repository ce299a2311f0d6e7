#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

struct AVFrame;

// A number drawn in the top-left corner of a screen, read back from the decoded picture, so a
// benchmark can tell when what the TV shows was on the sender's glass. A row of square cells, black
// or white: a white and a black cell to find it, 24 bits of the number, then 8 bits of a check that
// refuses a row caught half-drawn or spoilt by the encoder.
class GlassStamp {
public:
    static constexpr int kCell = 16;
    static constexpr int kCells = 2 + 24 + 8;
    static constexpr int kWidth = kCell * kCells;
    static constexpr int kHeight = kCell;
    static constexpr uint32_t kLargest = (1u << 24) - 1;

    // Whether each cell of `value` (at most kLargest) is white, left to right.
    static std::array<bool, kCells> cells(uint32_t value);
    // The number in the top-left corner of a 4:2:0 picture; nullopt when none is there or its check fails.
    static std::optional<uint32_t> read(const AVFrame& picture);
};
