#include "Socket/TvScreenResolutionPayload.h"

#include "Socket/DecodeWhole.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> TvScreenResolutionPayload::encode() const
{
    return ByteWriter(8).i32be(width).i32be(height).take();
}

std::optional<TvScreenResolutionPayload> TvScreenResolutionPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<TvScreenResolutionPayload>(payload, [](ByteReader& reader) {
        return TvScreenResolutionPayload{.width = reader.i32be(), .height = reader.i32be()};
    });
}
