#include "Socket/DiscoveryReply.h"

#include "Utils/ByteReader.h"

#include <algorithm>

namespace {
constexpr uint8_t kMagic = 0x24;
constexpr uint8_t kReplyKind = 0x11;
constexpr size_t kTextOffset = 3;
} // namespace

std::optional<std::string> DiscoveryReply::text(std::span<const uint8_t> datagram)
{
    ByteReader reader(datagram);
    const uint8_t magic = reader.u8();
    const uint8_t kind = reader.u8();
    if (!reader.complete() || magic != kMagic || kind != kReplyKind)
        return std::nullopt;
    // A reply that ends before its text carries an empty one.
    reader.seek(std::min(kTextOffset, datagram.size()));
    return reader.text();
}
