#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The cast's video format, sent before and at the start of a cast: 28 bytes, big-endian.
struct CastVideoFormatPayload {
    int32_t width = 0;
    int32_t height = 0;
    int32_t mirrorType = 0; // ScreenType: 0 whole screen, 1 extended screen, 2 one window

    std::vector<uint8_t> encode() const;
    // The TV's side: refuses a payload shorter than 28 bytes; the constant words are not read.
    static std::optional<CastVideoFormatPayload> decode(std::span<const uint8_t> payload);
};
