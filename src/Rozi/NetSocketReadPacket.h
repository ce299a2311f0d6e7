#pragma once

#include "Rozi/NetSocketData.h"
#include "Rozi/NetSocketPacket.h"

#include <cstdint>
#include <memory>
#include <sys/types.h>
#include <vector>

class NetSocketPreBuffer;

// One queued read, in one of three modes: exactly `readLength` bytes; up to and including the
// terminator `term`; or whatever is available. The last two may be bounded by `maxLength` (0: none).
struct NetSocketReadPacket final : NetSocketPacket {
    using Buffer = std::shared_ptr<std::vector<uint8_t>>;

    // Without a caller's buffer the packet makes its own of readLength bytes, at offset 0.
    NetSocketReadPacket(Buffer callerBuffer, size_t offset, size_t maximum, double timeoutSeconds, size_t length,
        std::vector<uint8_t> terminator, long packetTag);

    bool readsToTerm() const { return !term.empty(); }
    bool readsAvailable() const { return readLength == 0 && term.empty(); }

    // Grows the buffer by exactly what the next `length` bytes lack.
    void ensureCapacityForAdditionalDataOfLength(size_t length);
    // Where the next byte of the read goes.
    uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }

    // How much to read from the descriptor, given the estimate of the bytes it holds.
    size_t readLengthForNonTermWithHint(size_t bytesAvailable) const;
    // The same for a terminator read; *shouldPreBuffer when the buffer lacks the room, so that bytes
    // past the terminator land in the pre-buffer rather than growing the buffer.
    size_t readLengthForTermWithHint(size_t bytesAvailable, bool* shouldPreBuffer) const;
    // How many pre-buffered bytes a terminator read takes: up to and including the terminator when it
    // is found (*found), else all it may take within its maximum.
    size_t readLengthForTermWithPreBuffer(const NetSocketPreBuffer& preBuffer, bool* found) const;
    // After `bytesRead` bytes were read into the buffer past bytesDone: -1 when the terminator is not
    // among them, else how many of them lie past its end.
    ssize_t searchForTermAfterPreBuffering(size_t bytesRead) const;

    // The result of a finished read: an owned buffer cut to the bytes done, or a view of the caller's
    // buffer, cut back to its original length where the read grew it further than it needed.
    NetSocketData takeResult();

    Buffer buffer;
    size_t startOffset;
    size_t maxLength;
    size_t readLength;
    std::vector<uint8_t> term;
    bool bufferOwner;
    size_t originalBufferLength;
};
