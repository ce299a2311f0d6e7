#pragma once

#include <cstdint>
#include <span>

// A capability switch from the TV: the low byte of a big-endian 32-bit integer. An empty payload
// means the TV predates the switch and counts as on (1); a payload of 1 to 3 bytes gives 0.
struct CapabilityFlagPayload {
    uint8_t flag = 1;

    static CapabilityFlagPayload decode(std::span<const uint8_t> payload);
};
