#include "Socket/NetworkEchoPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> NetworkEchoPayload::encode() const
{
    return ByteWriter(kSize).u32le(kSize).u32le(id).u32le(echo).u32le(0).u64le(timeA).u64le(timeB).take();
}

std::optional<NetworkEchoPayload> NetworkEchoPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<NetworkEchoPayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        NetworkEchoPayload record{.id = reader.u32le(), .echo = reader.u32le()};
        reader.skip(4);
        record.timeA = reader.u64le();
        record.timeB = reader.u64le();
        return record;
    });
}
