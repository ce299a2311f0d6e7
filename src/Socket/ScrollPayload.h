#pragma once

#include <cstdint>
#include <vector>

// A scroll in the TV-screen window: wheel deltas times the window's scroll factor, big-endian.
struct ScrollPayload {
    int32_t horizontal = 0;
    int32_t vertical = 0;

    std::vector<uint8_t> encode() const;
};
