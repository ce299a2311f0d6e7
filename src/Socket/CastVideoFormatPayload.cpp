#include "Socket/CastVideoFormatPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> CastVideoFormatPayload::encode() const
{
    // The constant words between the size and the mirror type are what the TV expects.
    return ByteWriter(28).i32be(width).i32be(height).i32be(1).i32be(0).i32be(1).i32be(0).i32be(mirrorType).take();
}

std::optional<CastVideoFormatPayload> CastVideoFormatPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<CastVideoFormatPayload>(payload, [](ByteReader& reader) {
        CastVideoFormatPayload format{.width = reader.i32be(), .height = reader.i32be()};
        reader.skip(16);
        format.mirrorType = reader.i32be();
        return format;
    });
}
