#include "Socket/ServerInfoRecord.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

namespace {
constexpr size_t kNameOffset = 40;
}

std::vector<uint8_t> ServerInfoRecord::encode() const
{
    return ByteWriter(kSize).zeros(kNameOffset).fixedText(name, kSize - kNameOffset).take();
}

std::optional<ServerInfoRecord> ServerInfoRecord::decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kNameOffset)
        return std::nullopt;
    ByteReader reader(payload);
    reader.seek(kNameOffset);
    return ServerInfoRecord{reader.text()};
}
