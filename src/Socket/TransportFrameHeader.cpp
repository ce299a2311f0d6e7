#include "Socket/TransportFrameHeader.h"

#include "Utils/ByteReader.h"

namespace {

// Stores little-endian fields one after another into a caller's buffer (the send path reuses one
// buffer for every fragment, so the header is not built in a vector of its own).
class LittleEndianSink {
public:
    explicit LittleEndianSink(std::span<uint8_t> out) : out_(out) {}

    LittleEndianSink& put(uint64_t value, size_t width)
    {
        for (size_t i = 0; i < width && offset_ < out_.size(); ++i, ++offset_)
            out_[offset_] = static_cast<uint8_t>(value >> (8 * i));
        return *this;
    }

private:
    std::span<uint8_t> out_;
    size_t offset_ = 0;
};

} // namespace

bool TransportFrameHeader::encode(std::span<uint8_t> out) const
{
    if (out.size() < kSize)
        return false;
    LittleEndianSink(out.first(kSize))
        .put(magic, 4)
        .put(sequence, 4)
        .put(type, 2)
        .put(fragmentCount, 1)
        .put(fragmentIndex, 1)
        .put(fragmentLength, 4)
        .put(timeStamp, 8);
    return true;
}

std::optional<TransportFrameHeader> TransportFrameHeader::decode(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kSize)
        return std::nullopt;
    ByteReader reader(bytes.first(kSize));
    TransportFrameHeader header;
    header.magic = reader.u32le();
    header.sequence = reader.u32le();
    header.type = reader.u16le();
    header.fragmentCount = reader.u8();
    header.fragmentIndex = reader.u8();
    header.fragmentLength = reader.u32le();
    header.timeStamp = reader.u64le();
    return header;
}
