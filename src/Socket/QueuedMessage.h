#pragma once

#include <cstdint>
#include <vector>

// One message waiting in a send or receive list of the transport client, with its own copy of the payload.
struct QueuedMessage {
    uint16_t type = 0;
    // Microseconds since the Unix epoch: when it was queued (send), the sender's stamp (receive).
    uint64_t timeStamp = 0;
    std::vector<uint8_t> payload;
};
