#include "Rozi/NetSocketPreBuffer.h"

#include <cassert>
#include <cstring>

NetSocketPreBuffer::NetSocketPreBuffer(size_t capacity) : storage_(new uint8_t[capacity]), capacity_(capacity) { }

void NetSocketPreBuffer::didRead(size_t bytesRead)
{
    assert(bytesRead <= availableBytes() && "read past the pre-buffer's content");
    readOffset_ += bytesRead;
    if (readOffset_ == writeOffset_)
        reset();
}

void NetSocketPreBuffer::didWrite(size_t bytesWritten)
{
    assert(bytesWritten <= availableSpace() && "wrote past the pre-buffer's storage");
    writeOffset_ += bytesWritten;
}

void NetSocketPreBuffer::ensureCapacityForWrite(size_t bytes)
{
    const size_t space = availableSpace();
    if (space >= bytes)
        return;
    const size_t grown = capacity_ + (bytes - space);
    std::unique_ptr<uint8_t[]> storage(new uint8_t[grown]);
    std::memcpy(storage.get(), storage_.get(), writeOffset_);
    storage_ = std::move(storage);
    capacity_ = grown;
}
