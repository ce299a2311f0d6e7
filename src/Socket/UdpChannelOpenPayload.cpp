#include "Socket/UdpChannelOpenPayload.h"

#include "Socket/DecodeWhole.h"

std::optional<UdpChannelOpenPayload> UdpChannelOpenPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<UdpChannelOpenPayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        return UdpChannelOpenPayload{
            .port = reader.u32le(), .fragmentSize = reader.u32le(), .routeMask = reader.u32le()};
    });
}
