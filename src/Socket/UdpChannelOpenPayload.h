#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The TV's request to open the UDP side channel, little-endian.
struct UdpChannelOpenPayload {
    // Route mask bits: which kinds of message go over UDP.
    static constexpr uint32_t kRouteVideo = 0x1;
    static constexpr uint32_t kRouteAudio = 0x2;
    static constexpr uint32_t kRouteOther = 0x4;

    uint32_t port = 0;
    // Payload bytes per datagram as the TV asks; the channel checks its range before use.
    uint32_t fragmentSize = 0;
    uint32_t routeMask = 0;

    static constexpr uint32_t kSize = 16;

    // {16, port, fragmentSize, routeMask}, as the TV sends it.
    std::vector<uint8_t> encode() const;
    // Refuses a payload shorter than 16 bytes.
    static std::optional<UdpChannelOpenPayload> decode(std::span<const uint8_t> payload);
};
