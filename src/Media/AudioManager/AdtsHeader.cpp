#include "Media/AudioManager/AdtsHeader.h"

#include "Utils/ByteWriter.h"
#include "Utils/Log.h"

std::optional<std::vector<uint8_t>> AdtsHeader::forPacketLength(uint32_t packetLength)
{
    if (packetLength > kMaxFrameLength - kSize)
        return std::nullopt;
    uint32_t length = packetLength + kSize;
    ByteWriter header(kSize);
    header.u8(0xFF)                                                // sync word
        .u8(0xF9)                                                  // MPEG-2, layer 0, no CRC
        .u8(0x50)                                                  // AAC LC, 44,100 Hz
        .u8(static_cast<uint8_t>(0x80 | (length >> 11)))           // two channels; length bits 12-11
        .u8(static_cast<uint8_t>((length >> 3) & 0xFF))            // length bits 10-3
        .u8(static_cast<uint8_t>(((length & 7) << 5) | 0x1F))      // length bits 2-0; fullness
        .u8(0xFC);                                                 // fullness; one raw data block
    return header.take();
}

std::optional<std::vector<uint8_t>> AdtsHeader::frame(std::span<const uint8_t> packet)
{
    auto header = packet.size() <= kMaxFrameLength ? forPacketLength(static_cast<uint32_t>(packet.size()))
                                                   : std::nullopt;
    if (!header) {
        PLOG("AAC packet of %zu bytes too long for an ADTS frame, dropped", packet.size());
        return std::nullopt;
    }
    header->insert(header->end(), packet.begin(), packet.end());
    return header;
}
