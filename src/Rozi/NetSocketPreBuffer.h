#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Bytes read ahead of the current read: a growable buffer without wrap-around. The content lies
// between the read and the write offset and never moves except when the storage grows, by exactly
// the shortfall; the storage never shrinks. Both offsets go back to the start once it is drained.
class NetSocketPreBuffer {
public:
    explicit NetSocketPreBuffer(size_t capacity);

    size_t availableBytes() const { return writeOffset_ - readOffset_; }
    const uint8_t* readBuffer() const { return storage_.get() + readOffset_; }
    void didRead(size_t bytesRead);

    size_t availableSpace() const { return capacity_ - writeOffset_; }
    uint8_t* writeBuffer() { return storage_.get() + writeOffset_; }
    void didWrite(size_t bytesWritten);
    // Grows the storage so that at least `bytes` can be written.
    void ensureCapacityForWrite(size_t bytes);

    void reset() { readOffset_ = writeOffset_ = 0; }
    size_t capacity() const { return capacity_; }

private:
    std::unique_ptr<uint8_t[]> storage_;
    size_t capacity_;
    size_t readOffset_ = 0;
    size_t writeOffset_ = 0;
};
