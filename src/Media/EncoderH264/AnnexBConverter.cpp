#include "Media/EncoderH264/AnnexBConverter.h"

#include "Utils/ByteReader.h"
#include "Utils/Log.h"

void AnnexBConverter::appendNalUnit(std::span<const uint8_t> nalUnit, std::vector<uint8_t>& out)
{
    out.insert(out.end(), kStartCode.begin(), kStartCode.end());
    out.insert(out.end(), nalUnit.begin(), nalUnit.end());
}

bool AnnexBConverter::forEachNalUnit(std::span<const uint8_t> data,
                                     const std::function<void(std::span<const uint8_t>)>& visit)
{
    ByteReader reader(data);
    while (reader.remaining() > 0) {
        if (reader.remaining() < 4) {
            PLOG("H264: %zu stray bytes at offset %zu of a %zu-byte frame, NAL walk stopped", reader.remaining(),
                 reader.offset(), data.size());
            return false;
        }
        const uint32_t length = reader.u32be();
        if (length > reader.remaining()) {
            PLOG("H264: NAL unit of %u bytes at offset %zu runs past the %zu-byte frame, NAL walk stopped", length,
                 reader.offset() - 4, data.size());
            return false;
        }
        const auto nalUnit = reader.bytes(length);
        if (!nalUnit.empty())
            visit(nalUnit);
    }
    return true;
}

bool AnnexBConverter::appendLengthPrefixed(std::span<const uint8_t> data, std::vector<uint8_t>& out)
{
    return forEachNalUnit(data, [&out](std::span<const uint8_t> nalUnit) { appendNalUnit(nalUnit, out); });
}
