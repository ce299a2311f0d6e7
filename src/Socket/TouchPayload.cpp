#include "Socket/TouchPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> TouchPayload::encode() const
{
    return ByteWriter(16).i32be(x).i32be(y).i32be(third).i32be(fourth).take();
}

std::vector<uint8_t> TouchPayload::encodeLittleEndian() const
{
    return ByteWriter(16).i32le(x).i32le(y).i32le(third).i32le(fourth).take();
}

std::optional<TouchPayload> TouchPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<TouchPayload>(payload, [](ByteReader& reader) {
        return TouchPayload{.x = reader.i32le(), .y = reader.i32le(), .third = reader.i32le(), .fourth = reader.i32le()};
    });
}
