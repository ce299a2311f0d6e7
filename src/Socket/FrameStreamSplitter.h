#pragma once

#include "Socket/FrameReassembler.h"
#include "Socket/TransportFrameHeader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// Splits the TCP link's byte stream into fragments for a reassembler. The receive loop reads straight
// into writableSpace() and reports what it read with commit(); complete fragments go on from the
// stream buffer itself. Used only on the receive loop's thread.
class FrameStreamSplitter {
public:
    // One header and the largest fragment.
    static constexpr size_t kBufferSize = TransportFrameHeader::kSize + TransportFrameHeader::kMaxFragmentLength;

    enum class Status {
        Ok,
        // A header announced a fragment longer than the stream buffer can hold: the link must end.
        OversizeFragment,
    };

    explicit FrameStreamSplitter(FrameReassembler& reassembler);

    // The free space behind the bytes held; never empty while commit() reports Ok.
    std::span<uint8_t> writableSpace();
    // Takes count bytes just read into writableSpace() (at most its size), hands every complete
    // fragment to the reassembler in order and keeps the incomplete rest at the front.
    Status commit(size_t count);

    size_t bufferedBytes() const { return held_; }

private:
    FrameReassembler& reassembler_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t held_ = 0;
};
