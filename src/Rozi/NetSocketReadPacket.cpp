#include "Rozi/NetSocketReadPacket.h"

#include "Rozi/NetSocketPreBuffer.h"

#include <algorithm>
#include <cstring>

NetSocketReadPacket::NetSocketReadPacket(Buffer callerBuffer, size_t offset, size_t maximum, double timeoutSeconds,
    size_t length, std::vector<uint8_t> terminator, long packetTag)
    : NetSocketPacket(timeoutSeconds, packetTag), buffer(std::move(callerBuffer)), startOffset(offset),
      maxLength(maximum), readLength(length), term(std::move(terminator)), bufferOwner(buffer == nullptr),
      originalBufferLength(buffer ? buffer->size() : 0)
{
    if (bufferOwner) {
        buffer = std::make_shared<std::vector<uint8_t>>(readLength);
        startOffset = 0;
    }
}

void NetSocketReadPacket::ensureCapacityForAdditionalDataOfLength(size_t length)
{
    const size_t needed = startOffset + bytesDone + length;
    if (needed > buffer->size())
        buffer->resize(needed);
}

size_t NetSocketReadPacket::readLengthForNonTermWithHint(size_t bytesAvailable) const
{
    if (readLength > 0)
        return std::min(bytesAvailable, readLength - bytesDone);
    return maxLength > 0 ? std::min(bytesAvailable, maxLength - bytesDone) : bytesAvailable;
}

size_t NetSocketReadPacket::readLengthForTermWithHint(size_t bytesAvailable, bool* shouldPreBuffer) const
{
    const size_t result = maxLength > 0 ? std::min(bytesAvailable, maxLength - bytesDone) : bytesAvailable;
    *shouldPreBuffer = buffer->size() - (startOffset + bytesDone) < result;
    return result;
}

size_t NetSocketReadPacket::readLengthForTermWithPreBuffer(const NetSocketPreBuffer& preBuffer, bool* found) const
{
    *found = false;
    const size_t termLength = term.size();
    const size_t preBufferLength = preBuffer.availableBytes();
    if (bytesDone + preBufferLength < termLength)
        return preBufferLength;
    const size_t allowed = maxLength > 0 ? std::min(preBufferLength, maxLength - bytesDone) : preBufferLength;
    // The window starts with the last bytes already in the packet, then slides into the pre-buffer.
    const size_t kept = std::min(bytesDone, termLength - 1);
    if (kept + allowed < termLength)
        return allowed;
    const uint8_t* tail = buffer->data() + startOffset + bytesDone - kept;
    const uint8_t* pre = preBuffer.readBuffer();
    for (size_t shift = 0; shift + termLength <= kept + allowed; ++shift) {
        const size_t fromTail = shift < kept ? kept - shift : 0;
        const size_t preStart = shift < kept ? 0 : shift - kept;
        if ((fromTail == 0 || std::memcmp(tail + shift, term.data(), fromTail) == 0) &&
            std::memcmp(pre + preStart, term.data() + fromTail, termLength - fromTail) == 0) {
            *found = true;
            return preStart + termLength - fromTail;
        }
    }
    return allowed;
}

ssize_t NetSocketReadPacket::searchForTermAfterPreBuffering(size_t bytesRead) const
{
    const size_t termLength = term.size();
    const size_t total = bytesDone + bytesRead;
    const uint8_t* start = buffer->data() + startOffset;
    // A match may begin in the last bytes that were already there.
    size_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
    for (; i + termLength <= total; ++i) {
        if (std::memcmp(start + i, term.data(), termLength) == 0)
            return ssize_t(total - (i + termLength));
    }
    return -1;
}

NetSocketData NetSocketReadPacket::takeResult()
{
    if (bufferOwner) {
        buffer->resize(bytesDone);
        return {std::move(buffer), 0, bytesDone};
    }
    if (buffer->size() > originalBufferLength)
        buffer->resize(std::max(startOffset + bytesDone, originalBufferLength));
    return {std::move(buffer), startOffset, bytesDone};
}
