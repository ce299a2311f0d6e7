#include "Socket/VideoQualityPayload.h"

#include "Socket/DecodeWhole.h"

std::optional<VideoQualityPayload> VideoQualityPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<VideoQualityPayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        return VideoQualityPayload{
            .width = reader.i32le(), .height = reader.i32le(), .level = reader.i32le(), .fps = reader.i32le()};
    });
}
