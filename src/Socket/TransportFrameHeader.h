#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Written on every fragment; receivers never compare it.
inline constexpr uint32_t kTransportMagic = 0x21000012;

// The 24-byte little-endian header in front of every TCP fragment and UDP datagram of the TV link.
struct TransportFrameHeader {
    static constexpr size_t kSize = 24;
    // The largest fragment a receiver holds (the UDP side channel's largest fragment size).
    static constexpr uint32_t kMaxFragmentLength = 262'144;
    // The fragment count is one byte.
    static constexpr unsigned kMaxFragmentCount = 255;

    uint32_t magic = kTransportMagic;
    uint32_t sequence = 0;
    uint16_t type = 0;
    uint8_t fragmentCount = 0;
    uint8_t fragmentIndex = 0;
    // Payload bytes behind this header; in a reassembled message, the whole payload's length.
    uint32_t fragmentLength = 0;
    // Microseconds since the Unix epoch, the same in every fragment of a message.
    uint64_t timeStamp = 0;

    // Writes the header into the first kSize bytes of out; false, with nothing written, when out is shorter.
    bool encode(std::span<uint8_t> out) const;
    // The header in the first kSize bytes; nullopt when fewer are given.
    static std::optional<TransportFrameHeader> decode(std::span<const uint8_t> bytes);

    bool operator==(const TransportFrameHeader&) const = default;
};
