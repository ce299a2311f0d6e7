#pragma once

#include "Socket/FrameReassembler.h"
#include "Socket/MessageFragmenter.h"
#include "Socket/TransportFrameHeader.h"

#include <cstdint>
#include <span>
#include <vector>

// A delivered message copied out of the reassembler's buffer.
struct CollectedMessage {
    TransportFrameHeader header;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> frame;
};

// A reassembler that keeps a copy of every message it hands on.
struct CollectingReassembler {
    std::vector<CollectedMessage> messages;
    FrameReassembler reassembler{[this](const ReassembledMessage& message) {
        messages.push_back({message.header(), {message.payload().begin(), message.payload().end()},
                            {message.frame().begin(), message.frame().end()}});
    }};
};

inline std::vector<uint8_t> patternBytes(size_t length, uint8_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 16));
    return bytes;
}

// The fragments of one message, each as written in one send call.
inline std::vector<std::vector<uint8_t>> cutMessage(MessageFragmenter& fragmenter, uint32_t sequence, uint16_t type,
                                                    uint64_t timeStamp, std::span<const uint8_t> payload)
{
    std::vector<std::vector<uint8_t>> fragments;
    fragmenter.send(sequence, type, timeStamp, payload, [&](std::span<const uint8_t> fragment) {
        fragments.emplace_back(fragment.begin(), fragment.end());
        return true;
    });
    return fragments;
}

// A header followed by its fragmentLength bytes of the given payload.
inline std::vector<uint8_t> rawFragment(const TransportFrameHeader& header, std::span<const uint8_t> payload = {})
{
    std::vector<uint8_t> bytes(TransportFrameHeader::kSize);
    header.encode(bytes);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}
