#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The TV's answer to a cast: the size, quality level and frame rate to encode at. 20 bytes,
// little-endian; the first word is not read.
struct VideoQualityPayload {
    int32_t width = 0;
    int32_t height = 0;
    int32_t level = 0;
    int32_t fps = 0;

    // The TV's side; the unread first word is 0.
    std::vector<uint8_t> encode() const;
    // Refuses a payload shorter than 20 bytes.
    static std::optional<VideoQualityPayload> decode(std::span<const uint8_t> payload);
};
