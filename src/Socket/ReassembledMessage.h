#pragma once

#include "Socket/TransportFrameHeader.h"

#include <algorithm>
#include <cstdint>
#include <span>

// One complete message of the TV link as the reassembler hands it on. The frame is one buffer: a
// header whose length field holds the whole payload's length, the payload, then four zero bytes so
// that a text payload reads as a NUL-terminated string. A view: valid only while the handler runs.
class ReassembledMessage {
public:
    ReassembledMessage(const TransportFrameHeader& header, std::span<const uint8_t> frame)
        : header_(header), frame_(frame)
    {
    }

    const TransportFrameHeader& header() const { return header_; }
    uint16_t type() const { return header_.type; }
    uint32_t sequence() const { return header_.sequence; }
    uint64_t timeStamp() const { return header_.timeStamp; }
    // The payload without the terminator.
    std::span<const uint8_t> payload() const
    {
        const auto body = frame_.subspan(std::min(frame_.size(), TransportFrameHeader::kSize));
        return body.first(std::min<size_t>(body.size(), header_.fragmentLength));
    }
    // Header, payload and terminator.
    std::span<const uint8_t> frame() const { return frame_; }

private:
    TransportFrameHeader header_;
    std::span<const uint8_t> frame_;
};
