#pragma once

#include <cstdint>
#include <vector>

// Removal of one sender from the TV's list: its id, 8 bytes big-endian.
struct ClientRemovePayload {
    uint64_t client = 0;

    std::vector<uint8_t> encode() const;
};
