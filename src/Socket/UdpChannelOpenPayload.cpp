#include "Socket/UdpChannelOpenPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> UdpChannelOpenPayload::encode() const
{
    return ByteWriter(kSize).u32le(kSize).u32le(port).u32le(fragmentSize).u32le(routeMask).take();
}

std::optional<UdpChannelOpenPayload> UdpChannelOpenPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<UdpChannelOpenPayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        return UdpChannelOpenPayload{
            .port = reader.u32le(), .fragmentSize = reader.u32le(), .routeMask = reader.u32le()};
    });
}
