#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The 7-byte ADTS header without CRC that puts one raw AAC-LC packet (44,100 Hz, two channels) on
// the wire as a self-describing frame.
class AdtsHeader {
public:
    static constexpr uint32_t kSize = 7;
    // The frame length field is 13 bits wide and counts the header too.
    static constexpr uint32_t kMaxFrameLength = 0x1FFF;

    // The header for a packet of packetLength bytes; nullopt when the frame would not fit the
    // length field.
    static std::optional<std::vector<uint8_t>> forPacketLength(uint32_t packetLength);
    // The header followed by the packet; nullopt (and a log line) when the packet is too long.
    static std::optional<std::vector<uint8_t>> frame(std::span<const uint8_t> packet);
};
