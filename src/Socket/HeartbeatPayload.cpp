#include "Socket/HeartbeatPayload.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> HeartbeatPayload::encode() const
{
    return ByteWriter(kSize).u32le(kSize).u32le(sequence).u32le(echo).u32le(status).take();
}

HeartbeatPayload HeartbeatPayload::decode(std::span<const uint8_t> payload)
{
    ByteReader reader(payload);
    reader.skip(4);
    return {.sequence = reader.u32le(), .echo = reader.u32le(), .status = reader.u32le()};
}
