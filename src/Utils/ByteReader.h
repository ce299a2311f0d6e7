#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The one bounds-checked reader behind every wire record. It never reads past the end of its bytes:
// a fixed-width read that runs over the end is zero-extended and marks the reader short, so each
// record decides, as its definition says, whether to accept the zero-extended value or refuse it.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    ByteReader(const void* data, size_t length) : bytes_(static_cast<const uint8_t*>(data), data ? length : 0) {}

    size_t size() const { return bytes_.size(); }
    size_t offset() const { return offset_; }
    size_t remaining() const { return offset_ < bytes_.size() ? bytes_.size() - offset_ : 0; }
    // True while no read has run past the end.
    bool complete() const { return complete_; }

    uint8_t u8();
    uint16_t u16le();
    uint16_t u16be();
    uint32_t u32le();
    uint32_t u32be();
    uint64_t u64le();
    uint64_t u64be();
    int32_t i32le() { return static_cast<int32_t>(u32le()); }
    int32_t i32be() { return static_cast<int32_t>(u32be()); }

    void skip(size_t count);
    void seek(size_t offset);
    // Up to count bytes from here; fewer (and the reader short) at the end.
    std::span<const uint8_t> bytes(size_t count);
    std::span<const uint8_t> rest();
    // Text from here up to the first NUL, the end of the bytes or maxBytes, whichever comes first,
    // cut back to a whole UTF-8 character. Leaves the reader after the bytes it looked at.
    std::string text(size_t maxBytes = SIZE_MAX);

    // The longest prefix of text no longer than maxBytes that does not split a UTF-8 character.
    static std::string_view cutUtf8(std::string_view text, size_t maxBytes);

private:
    // Copies count bytes at the current offset into out, zero-filling what lies past the end.
    void take(uint8_t* out, size_t count);

    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
    bool complete_ = true;
};
