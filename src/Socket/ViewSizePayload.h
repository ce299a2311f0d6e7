#pragma once

#include <cstdint>
#include <vector>

// The size in which our touches are given to the TV, big-endian.
struct ViewSizePayload {
    int32_t width = 0;
    int32_t height = 0;

    std::vector<uint8_t> encode() const;
};
