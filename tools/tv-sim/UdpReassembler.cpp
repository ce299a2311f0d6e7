#include "tv-sim/UdpReassembler.h"

#include "Socket/MessageType.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The sender keeps one history, and so one run of ids, per stream.
uint16_t streamOf(uint16_t type)
{
    return type == kMsgVideoFrame || type == kMsgAudioFrame ? type : 0;
}

bool sameMessage(const TransportFrameHeader& a, const TransportFrameHeader& b)
{
    return a.type == b.type && a.fragmentCount == b.fragmentCount && a.timeStamp == b.timeStamp;
}

} // namespace

UdpReassembler::UdpReassembler(uint32_t fragmentSize, MessageHandler onMessage)
    : fragmentSize_(fragmentSize), onMessage_(std::move(onMessage))
{
}

UdpReassembler::Result UdpReassembler::add(std::span<const uint8_t> datagram)
{
    const auto header = TransportFrameHeader::decode(datagram);
    if (!header) {
        PLOG("tv-sim: dropping a %zu-byte datagram: shorter than a header", datagram.size());
        return Result::Malformed;
    }
    const auto fragment = datagram.subspan(TransportFrameHeader::kSize);
    if (!fits(*header, fragment.size())) {
        PLOG("tv-sim: dropping datagram of message %u type 0x%x: fragment %u of %u, length %u with %zu bytes, "
             "fragment size %u",
             header->sequence, header->type, header->fragmentIndex, header->fragmentCount, header->fragmentLength,
             fragment.size(), fragmentSize_);
        return Result::Malformed;
    }

    Pending& message = find(*header);
    const unsigned index = header->fragmentIndex;
    if (!fragment.empty())
        std::memcpy(message.payload.data() + uint64_t(index) * fragmentSize_, fragment.data(), fragment.size());
    if (!message.arrived.test(index)) {
        message.arrived.set(index);
        ++message.received;
        if (index + 1u == header->fragmentCount)
            message.lastLength = fragment.size();
    }
    if (message.received < message.header.fragmentCount)
        return Result::Accepted;

    TransportFrameHeader whole = message.header;
    whole.fragmentIndex = 0;
    const uint64_t length = uint64_t(whole.fragmentCount - 1) * fragmentSize_ + message.lastLength;
    whole.fragmentLength = static_cast<uint32_t>(length);
    onMessage_(whole, std::span<const uint8_t>(message.payload).first(length));
    pending_.remove_if([&](const Pending& entry) { return &entry == &message; });
    return Result::Completed;
}

// Every fragment but the last fills F; the last holds 1 to F bytes (0 to F for a one-fragment message).
bool UdpReassembler::fits(const TransportFrameHeader& header, size_t payloadBytes) const
{
    if (header.fragmentCount == 0 || header.fragmentIndex >= header.fragmentCount)
        return false;
    if (payloadBytes != header.fragmentLength || header.fragmentLength > fragmentSize_)
        return false;
    const bool last = header.fragmentIndex + 1u == header.fragmentCount;
    if (!last)
        return header.fragmentLength == fragmentSize_;
    return header.fragmentCount == 1 || header.fragmentLength > 0;
}

UdpReassembler::Pending& UdpReassembler::find(const TransportFrameHeader& header)
{
    const auto match = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& entry) {
        return streamOf(entry.header.type) == streamOf(header.type) && entry.header.sequence == header.sequence;
    });
    if (match != pending_.end()) {
        if (sameMessage(match->header, header))
            return *match;
        // The id was used again (a new sender): what was kept belongs to an older message.
        pending_.erase(match);
    }
    if (pending_.size() >= kMaxPending) {
        const auto& oldest = pending_.front();
        PLOG("tv-sim: giving up message %u type 0x%x with %u of %u fragments", oldest.header.sequence,
             oldest.header.type, oldest.received, oldest.header.fragmentCount);
        pending_.pop_front();
    }
    Pending& message = pending_.emplace_back();
    message.header = header;
    message.payload.resize(uint64_t(header.fragmentCount) * fragmentSize_);
    return message;
}
