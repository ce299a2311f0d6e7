#include "Utils/ByteWriter.h"

#include "Utils/ByteReader.h"

ByteWriter& ByteWriter::u8(uint8_t value)
{
    bytes_.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::u16le(uint16_t value)
{
    return u8(static_cast<uint8_t>(value)).u8(static_cast<uint8_t>(value >> 8));
}

ByteWriter& ByteWriter::u32le(uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        u8(static_cast<uint8_t>(value >> shift));
    return *this;
}

ByteWriter& ByteWriter::u32be(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        u8(static_cast<uint8_t>(value >> shift));
    return *this;
}

ByteWriter& ByteWriter::u64le(uint64_t value)
{
    return u32le(static_cast<uint32_t>(value)).u32le(static_cast<uint32_t>(value >> 32));
}

ByteWriter& ByteWriter::u64be(uint64_t value)
{
    return u32be(static_cast<uint32_t>(value >> 32)).u32be(static_cast<uint32_t>(value));
}

ByteWriter& ByteWriter::bytes(std::span<const uint8_t> data)
{
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

ByteWriter& ByteWriter::zeros(size_t count)
{
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
}

ByteWriter& ByteWriter::fixedText(std::string_view text, size_t width)
{
    if (width == 0)
        return *this;
    const auto cut = ByteReader::cutUtf8(text.substr(0, text.find('\0')), width - 1);
    bytes(std::span(reinterpret_cast<const uint8_t*>(cut.data()), cut.size()));
    return zeros(width - cut.size());
}
