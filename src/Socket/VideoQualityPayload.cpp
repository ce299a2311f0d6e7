#include "Socket/VideoQualityPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> VideoQualityPayload::encode() const
{
    return ByteWriter(20).u32le(0).i32le(width).i32le(height).i32le(level).i32le(fps).take();
}

std::optional<VideoQualityPayload> VideoQualityPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<VideoQualityPayload>(payload, [](ByteReader& reader) {
        reader.skip(4);
        return VideoQualityPayload{
            .width = reader.i32le(), .height = reader.i32le(), .level = reader.i32le(), .fps = reader.i32le()};
    });
}
