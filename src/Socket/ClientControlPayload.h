#pragma once

#include <cstdint>
#include <vector>

// A change to one sender in the TV's list (lock, speaker, reverse, mirror): 12 bytes, big-endian.
struct ClientControlPayload {
    uint64_t client = 0; // the sender's id, `client` of its list entry
    uint32_t state = 0;  // 1 to switch the flag on, 0 to switch it off

    std::vector<uint8_t> encode() const;
};
