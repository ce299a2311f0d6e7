#include "Socket/FrameReassembler.h"

#include "Utils/Log.h"

#include <cstring>
#include <utility>

namespace {

constexpr size_t kTerminatorSize = 4;
constexpr uint64_t kAllocationStep = 4'096;

// Header and payload rounded up to the allocation step, one step more when that leaves no room for
// the terminator.
size_t capacityFor(uint64_t payloadLength)
{
    const uint64_t used = TransportFrameHeader::kSize + payloadLength;
    uint64_t capacity = (used + kAllocationStep - 1) / kAllocationStep * kAllocationStep;
    if (capacity - used < kTerminatorSize)
        capacity += kAllocationStep;
    return static_cast<size_t>(capacity);
}

} // namespace

FrameReassembler::FrameReassembler(MessageHandler onMessage)
    : onMessage_(std::move(onMessage)),
      buffer_(std::make_unique_for_overwrite<uint8_t[]>(kInitialCapacity)),
      capacity_(kInitialCapacity)
{
    current_.sequence = 0xFFFFFFFF;
}

void FrameReassembler::add(const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    if (!acceptable(header, payload))
        return;
    if (header.fragmentIndex == 0)
        start(header);
    join(header, payload);
}

bool FrameReassembler::acceptable(const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    if (header.fragmentCount == 0) {
        NQLOG("dropping fragment of message %u type 0x%x: fragment count 0", header.sequence, header.type);
        return false;
    }
    // Bounds the message buffer at 255 x 262,144 bytes whoever feeds the reassembler.
    if (header.fragmentLength > TransportFrameHeader::kMaxFragmentLength || payload.size() != header.fragmentLength) {
        NQLOG("dropping fragment of message %u type 0x%x: length %u with %zu payload bytes", header.sequence,
              header.type, header.fragmentLength, payload.size());
        return false;
    }
    return true;
}

void FrameReassembler::start(const TransportFrameHeader& header)
{
    const uint64_t needed = uint64_t(header.fragmentLength) * header.fragmentCount;
    if (capacity_ < TransportFrameHeader::kSize + needed + kTerminatorSize) {
        // The old contents are of no use: free them before taking the larger buffer.
        buffer_.reset();
        capacity_ = capacityFor(needed);
        buffer_ = std::make_unique_for_overwrite<uint8_t[]>(capacity_);
    }
    current_ = header;
    slot_ = header.fragmentLength;
    received_ = 0;
    totalLength_ = 0;
    arrived_.reset();
}

void FrameReassembler::join(const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    if (header.sequence != current_.sequence || header.fragmentCount != current_.fragmentCount)
        return;
    const unsigned index = header.fragmentIndex;
    const bool last = index + 1u == header.fragmentCount;
    // Every fragment but the last fills its slot, so the payload has no gap for the terminator to land in.
    if (index >= header.fragmentCount || header.fragmentLength > slot_ || (!last && header.fragmentLength != slot_)) {
        NQLOG("dropping fragment %u of %u of message %u: length %u does not fit slot %u", index, header.fragmentCount,
              header.sequence, header.fragmentLength, slot_);
        return;
    }
    if (!payload.empty())
        std::memcpy(buffer_.get() + TransportFrameHeader::kSize + uint64_t(index) * slot_, payload.data(),
                    payload.size());
    if (!arrived_.test(index)) {
        arrived_.set(index);
        ++received_;
        totalLength_ += header.fragmentLength;
    }
    if (received_ >= current_.fragmentCount)
        complete();
}

void FrameReassembler::complete()
{
    TransportFrameHeader header = current_;
    header.fragmentIndex = 0;
    header.fragmentLength = static_cast<uint32_t>(totalLength_);
    const auto frame = std::span<uint8_t>(buffer_.get(), TransportFrameHeader::kSize + totalLength_ + kTerminatorSize);
    header.encode(frame);
    std::memset(frame.data() + TransportFrameHeader::kSize + totalLength_, 0, kTerminatorSize);
    onMessage_(ReassembledMessage(header, frame));
    received_ = 0;
    arrived_.reset();
}
