#include "Socket/CapabilityFlagPayload.h"

#include "Utils/ByteReader.h"

CapabilityFlagPayload CapabilityFlagPayload::decode(std::span<const uint8_t> payload)
{
    if (payload.empty())
        return {1};
    // A short word is zero-extended at its low end, so 1 to 3 bytes leave the flag byte 0.
    return {static_cast<uint8_t>(ByteReader(payload).u32be())};
}
