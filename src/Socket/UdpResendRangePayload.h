#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The TV's request to send a run of kept messages again, little-endian.
struct UdpResendRangePayload {
    // Flag bits. With flags 0 the end id is included; with any flag the end bound is exclusive.
    static constexpr uint32_t kFromOldest = 0x1;   // start at the oldest kept message, not firstId
    static constexpr uint32_t kThroughNewest = 0x2; // run through the newest kept message, not endId

    uint32_t streamType = 0; // kMsgVideoFrame, kMsgAudioFrame, anything else: the other stream
    uint32_t firstId = 0;
    uint32_t endId = 0;
    uint32_t flags = 0;

    static constexpr uint32_t kSize = 20;

    // {20, streamType, firstId, endId, flags}, as the TV sends it.
    std::vector<uint8_t> encode() const;
    // Refuses a payload shorter than 20 bytes.
    static std::optional<UdpResendRangePayload> decode(std::span<const uint8_t> payload);
};
