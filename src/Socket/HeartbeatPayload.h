#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The transport's keep-alive, little-endian, in both directions: a request carries echo 0, the
// answer echoes the request's sequence and carries the answering side's status byte.
struct HeartbeatPayload {
    static constexpr uint32_t kSize = 16;
    // Status bit 0: the peer asks for kMsgClientInfo again.
    static constexpr uint32_t kStatusWantsClientInfo = 0x1;

    uint32_t sequence = 0;
    uint32_t echo = 0;
    uint32_t status = 0;

    bool isRequest() const { return echo == 0; }
    // A request with sequence 0 is not answered: its answer would echo 0 and read as a request
    // again, so two peers could bounce it forever.
    bool isAnswerable() const { return isRequest() && sequence != 0; }
    HeartbeatPayload answer(uint32_t ownStatus) const { return {sequence, sequence, ownStatus}; }

    std::vector<uint8_t> encode() const;
    // Reads up to 16 bytes; what a short payload lacks reads as 0. The size word is not checked.
    static HeartbeatPayload decode(std::span<const uint8_t> payload);
};
