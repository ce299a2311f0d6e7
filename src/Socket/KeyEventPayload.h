#pragma once

#include <cstdint>
#include <vector>

// A forwarded key press or release: the key's USB HID keyboard usage code, 32 bits in our own
// (little-endian) order.
struct KeyEventPayload {
    uint32_t usage = 0;

    std::vector<uint8_t> encode() const;
};
