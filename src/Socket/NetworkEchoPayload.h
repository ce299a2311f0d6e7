#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The transport's latency probe, little-endian. The requester stamps both times (microseconds
// since the Unix epoch); the answer returns them with the request's id in the echo word.
struct NetworkEchoPayload {
    static constexpr uint32_t kSize = 32;

    uint32_t id = 0;
    uint32_t echo = 0;
    uint64_t timeA = 0;
    uint64_t timeB = 0;

    bool isRequest() const { return echo == 0; }
    NetworkEchoPayload answer() const { return {0, id, timeA, timeB}; }

    std::vector<uint8_t> encode() const;
    // Refuses a payload shorter than 32 bytes.
    static std::optional<NetworkEchoPayload> decode(std::span<const uint8_t> payload);
};
