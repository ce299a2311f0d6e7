#include "Socket/UdpResendRangePayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> UdpResendRangePayload::encode() const
{
    return ByteWriter(kSize).u32le(kSize).u32le(streamType).u32le(firstId).u32le(endId).u32le(flags).take();
}

std::optional<UdpResendRangePayload> UdpResendRangePayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<UdpResendRangePayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        return UdpResendRangePayload{.streamType = reader.u32le(),
                                     .firstId = reader.u32le(),
                                     .endId = reader.u32le(),
                                     .flags = reader.u32le()};
    });
}
