#include "Utils/ByteReader.h"

#include <algorithm>
#include <cstring>

void ByteReader::take(uint8_t* out, size_t count)
{
    const size_t available = std::min(count, remaining());
    if (available > 0)
        std::memcpy(out, bytes_.data() + offset_, available);
    if (available < count) {
        std::memset(out + available, 0, count - available);
        complete_ = false;
    }
    offset_ += available;
}

uint8_t ByteReader::u8()
{
    uint8_t b = 0;
    take(&b, 1);
    return b;
}

uint16_t ByteReader::u16le()
{
    uint8_t b[2];
    take(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint16_t ByteReader::u16be()
{
    uint8_t b[2];
    take(b, 2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t ByteReader::u32le()
{
    uint8_t b[4];
    take(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t ByteReader::u32be()
{
    uint8_t b[4];
    take(b, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

uint64_t ByteReader::u64le()
{
    const uint64_t low = u32le();
    return low | uint64_t(u32le()) << 32;
}

uint64_t ByteReader::u64be()
{
    const uint64_t high = u32be();
    return high << 32 | u32be();
}

void ByteReader::skip(size_t count)
{
    if (count > remaining()) {
        complete_ = false;
        offset_ = bytes_.size();
        return;
    }
    offset_ += count;
}

void ByteReader::seek(size_t offset)
{
    if (offset > bytes_.size()) {
        complete_ = false;
        offset_ = bytes_.size();
        return;
    }
    offset_ = offset;
}

std::span<const uint8_t> ByteReader::bytes(size_t count)
{
    const size_t available = std::min(count, remaining());
    if (available < count)
        complete_ = false;
    auto out = bytes_.subspan(offset_, available);
    offset_ += available;
    return out;
}

std::span<const uint8_t> ByteReader::rest()
{
    return bytes(remaining());
}

std::string ByteReader::text(size_t maxBytes)
{
    const auto window = bytes_.subspan(offset_, std::min(maxBytes, remaining()));
    const auto nul = std::find(window.begin(), window.end(), uint8_t{0});
    const std::string_view raw(reinterpret_cast<const char*>(window.data()), static_cast<size_t>(nul - window.begin()));
    offset_ += window.size();
    return std::string(cutUtf8(raw, raw.size()));
}

std::string_view ByteReader::cutUtf8(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        maxBytes = text.size();
    size_t end = maxBytes;
    // Step back over continuation bytes to the lead byte of the last character, then keep that
    // character only if all its bytes fit.
    size_t lead = end;
    while (lead > 0 && (static_cast<uint8_t>(text[lead - 1]) & 0xC0) == 0x80 && end - lead < 3)
        --lead;
    if (lead > 0) {
        const auto first = static_cast<uint8_t>(text[lead - 1]);
        size_t width = 1;
        if ((first & 0xE0) == 0xC0)
            width = 2;
        else if ((first & 0xF0) == 0xE0)
            width = 3;
        else if ((first & 0xF8) == 0xF0)
            width = 4;
        if (first >= 0x80 && end - (lead - 1) < width)
            end = lead - 1;
    }
    return text.substr(0, end);
}
