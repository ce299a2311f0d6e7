#include "Socket/Int32Payload.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> Int32Payload::encode() const
{
    return ByteWriter(4).i32be(value).take();
}

Int32Payload Int32Payload::decode(std::span<const uint8_t> payload)
{
    return {ByteReader(payload).i32be()};
}

std::vector<uint8_t> Int32Payload::encodeLittleEndian() const
{
    return ByteWriter(4).i32le(value).take();
}

Int32Payload Int32Payload::decodeLittleEndian(std::span<const uint8_t> payload)
{
    return {ByteReader(payload).i32le()};
}
