#include "Socket/TvScreenResolutionPayload.h"

#include "Socket/DecodeWhole.h"

std::optional<TvScreenResolutionPayload> TvScreenResolutionPayload::decode(std::span<const uint8_t> payload)
{
    return decodeWhole<TvScreenResolutionPayload>(payload, [](ByteReader& reader) {
        return TvScreenResolutionPayload{.width = reader.i32be(), .height = reader.i32be()};
    });
}
