#include "Socket/MessageFragmenter.h"

#include "Utils/Log.h"

#include <algorithm>
#include <array>

namespace {

bool selects(std::optional<std::span<const uint32_t>> selection, size_t index)
{
    if (!selection)
        return true;
    const size_t word = index / 32;
    return word < selection->size() && ((*selection)[word] >> (index % 32) & 1u) != 0;
}

} // namespace

MessageFragmenter::MessageFragmenter() : MessageFragmenter(kTcpFragmentSize) {}

MessageFragmenter::MessageFragmenter(size_t fragmentSize) : fragmentSize_(fragmentSize) {}

std::optional<MessageFragmenter> MessageFragmenter::withFragmentSize(size_t fragmentSize)
{
    if (fragmentSize == 0 || fragmentSize > TransportFrameHeader::kMaxFragmentLength)
        return std::nullopt;
    return MessageFragmenter(fragmentSize);
}

uint64_t MessageFragmenter::fragmentCount(uint64_t length) const
{
    if (length == 0)
        return 1;
    return length / fragmentSize_ + (length % fragmentSize_ != 0 ? 1 : 0);
}

MessageFragmenter::Result MessageFragmenter::send(uint32_t sequence, uint16_t type, uint64_t timeStamp,
                                                  std::span<const uint8_t> payload, const Writer& write,
                                                  std::optional<std::span<const uint32_t>> selection)
{
    buffer_.resize(TransportFrameHeader::kSize + fragmentSize_);
    return sendGathered(
        sequence, type, timeStamp, payload,
        [&](const Pieces& fragment) {
            std::copy(fragment.header.begin(), fragment.header.end(), buffer_.begin());
            std::copy(fragment.payload.begin(), fragment.payload.end(),
                      buffer_.begin() + TransportFrameHeader::kSize);
            return write(std::span<const uint8_t>(buffer_).first(fragment.size()));
        },
        selection);
}

MessageFragmenter::Result MessageFragmenter::sendGathered(uint32_t sequence, uint16_t type, uint64_t timeStamp,
                                                          std::span<const uint8_t> payload,
                                                          const GatherWriter& write,
                                                          std::optional<std::span<const uint32_t>> selection)
{
    const uint64_t count = fragmentCount(payload.size());
    if (count > TransportFrameHeader::kMaxFragmentCount) {
        NQLOG("refusing to send message type 0x%x of %zu bytes: it needs %llu fragments, at most %u fit",
              type, payload.size(), static_cast<unsigned long long>(count), TransportFrameHeader::kMaxFragmentCount);
        return {Status::TooManyFragments, 0};
    }

    TransportFrameHeader header;
    header.sequence = sequence;
    header.type = type;
    header.fragmentCount = static_cast<uint8_t>(count);
    header.timeStamp = timeStamp;

    std::array<uint8_t, TransportFrameHeader::kSize> headerBytes{};
    Result result;
    for (size_t index = 0; index < count; ++index) {
        if (!selects(selection, index))
            continue;
        const size_t offset = index * fragmentSize_;
        const size_t length = std::min(payload.size() - offset, fragmentSize_);
        header.fragmentIndex = static_cast<uint8_t>(index);
        header.fragmentLength = static_cast<uint32_t>(length);
        header.encode(headerBytes);
        const Pieces fragment{headerBytes, payload.subspan(offset, length)};
        if (!write(fragment)) {
            result.status = Status::WriteFailed;
            return result;
        }
        result.bytesWritten += fragment.size();
    }
    return result;
}
