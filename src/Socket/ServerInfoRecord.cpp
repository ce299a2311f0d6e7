#include "Socket/ServerInfoRecord.h"

#include "Utils/ByteReader.h"

namespace {
constexpr size_t kNameOffset = 40;
}

std::optional<ServerInfoRecord> ServerInfoRecord::decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kNameOffset)
        return std::nullopt;
    ByteReader reader(payload);
    reader.seek(kNameOffset);
    return ServerInfoRecord{reader.text()};
}
