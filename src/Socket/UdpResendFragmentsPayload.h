#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The TV's request to send some fragments of one kept message again, little-endian.
struct UdpResendFragmentsPayload {
    // A message has at most 255 fragments, so eight words cover every bit that can matter.
    static constexpr size_t kMaxBitmapWords = 8;

    uint32_t streamType = 0; // kMsgVideoFrame, kMsgAudioFrame, anything else: the other stream
    uint32_t messageId = 0;
    // Bit i of word i / 32 selects fragment i. A trailing part word is zero-extended; words past
    // kMaxBitmapWords are not kept.
    std::vector<uint32_t> bitmap;

    // False for a fragment the bitmap does not reach.
    bool selects(size_t fragment) const;

    // {size, streamType, messageId, bitmap words...} as the TV sends it; the first word, which
    // receivers do not read, holds the record's size.
    std::vector<uint8_t> encode() const;
    // Refuses a payload that ends before the bitmap starts (12 bytes).
    static std::optional<UdpResendFragmentsPayload> decode(std::span<const uint8_t> payload);
};
