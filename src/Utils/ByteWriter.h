#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Builds a wire record byte by byte, each field in the byte order its record gives.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(size_t reserve) { bytes_.reserve(reserve); }

    ByteWriter& u8(uint8_t value);
    ByteWriter& u16le(uint16_t value);
    ByteWriter& u32le(uint32_t value);
    ByteWriter& u32be(uint32_t value);
    ByteWriter& u64le(uint64_t value);
    ByteWriter& u64be(uint64_t value);
    ByteWriter& i32le(int32_t value) { return u32le(static_cast<uint32_t>(value)); }
    ByteWriter& i32be(int32_t value) { return u32be(static_cast<uint32_t>(value)); }
    ByteWriter& bytes(std::span<const uint8_t> data);
    ByteWriter& zeros(size_t count);
    // A fixed field of width bytes: the text cut at a UTF-8 boundary to at most width - 1 bytes,
    // then NUL padding, so the field is always terminated.
    ByteWriter& fixedText(std::string_view text, size_t width);

    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& data() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};
