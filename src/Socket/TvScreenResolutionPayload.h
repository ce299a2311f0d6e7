#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The size of the TV's screen stream (kMsgTvScreenResolution): two big-endian 32-bit integers.
struct TvScreenResolutionPayload {
    int32_t width = 0;
    int32_t height = 0;

    // The TV's side.
    std::vector<uint8_t> encode() const;
    // Refuses a payload shorter than 8 bytes.
    static std::optional<TvScreenResolutionPayload> decode(std::span<const uint8_t> payload);
};
