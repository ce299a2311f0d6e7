#include "Socket/FrameStreamSplitter.h"

#include "Utils/Log.h"

#include <algorithm>
#include <cstring>

FrameStreamSplitter::FrameStreamSplitter(FrameReassembler& reassembler)
    : reassembler_(reassembler), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kBufferSize))
{
}

std::span<uint8_t> FrameStreamSplitter::writableSpace()
{
    return {buffer_.get() + held_, kBufferSize - held_};
}

FrameStreamSplitter::Status FrameStreamSplitter::commit(size_t count)
{
    held_ += std::min(count, kBufferSize - held_);
    const std::span<const uint8_t> held(buffer_.get(), held_);
    size_t consumed = 0;
    Status status = Status::Ok;
    while (const auto header = TransportFrameHeader::decode(held.subspan(consumed))) {
        if (header->fragmentLength > TransportFrameHeader::kMaxFragmentLength) {
            NQLOG("fragment of message %u type 0x%x announces %u bytes, more than %u: ending the link",
                  header->sequence, header->type, header->fragmentLength, TransportFrameHeader::kMaxFragmentLength);
            status = Status::OversizeFragment;
            break;
        }
        const size_t fragmentEnd = consumed + TransportFrameHeader::kSize + header->fragmentLength;
        if (fragmentEnd > held_)
            break;
        reassembler_.add(*header, held.subspan(consumed + TransportFrameHeader::kSize, header->fragmentLength));
        consumed = fragmentEnd;
    }
    // One move per read rather than one per fragment.
    if (consumed > 0) {
        std::memmove(buffer_.get(), buffer_.get() + consumed, held_ - consumed);
        held_ -= consumed;
    }
    return status;
}
