#include "Socket/UdpResendFragmentsPayload.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

namespace {
constexpr size_t kBitmapOffset = 12;
}

bool UdpResendFragmentsPayload::selects(size_t fragment) const
{
    const size_t word = fragment / 32;
    return word < bitmap.size() && (bitmap[word] >> (fragment % 32) & 1u) != 0;
}

std::vector<uint8_t> UdpResendFragmentsPayload::encode() const
{
    const size_t size = kBitmapOffset + 4 * bitmap.size();
    ByteWriter writer(size);
    writer.u32le(static_cast<uint32_t>(size)).u32le(streamType).u32le(messageId);
    for (const uint32_t word : bitmap)
        writer.u32le(word);
    return writer.take();
}

std::optional<UdpResendFragmentsPayload> UdpResendFragmentsPayload::decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kBitmapOffset)
        return std::nullopt;
    ByteReader reader(payload);
    reader.skip(4);
    UdpResendFragmentsPayload request;
    request.streamType = reader.u32le();
    request.messageId = reader.u32le();
    while (reader.remaining() > 0 && request.bitmap.size() < kMaxBitmapWords)
        request.bitmap.push_back(reader.u32le());
    return request;
}
