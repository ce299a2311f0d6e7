#include "Socket/ClientInfoRecord.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

namespace {
constexpr uint32_t kRecordVersion = 2;
constexpr uint32_t kSecondWord = 2; // the word at 104; its meaning is the TV's
constexpr size_t kOsVersionOffset = 8;
constexpr size_t kOsVersionWidth = 32;
constexpr size_t kOsNameOffset = 40;
constexpr size_t kOsNameWidth = 64;
constexpr size_t kDeviceNameOffset = 112;
constexpr size_t kDeviceNameWidth = 64;
}

std::vector<uint8_t> ClientInfoRecord::encode() const
{
    return ByteWriter(kSize)
        .u32le(kSize)
        .u32le(kRecordVersion)
        .fixedText(osVersion, kOsVersionWidth)
        .fixedText(osName, kOsNameWidth)
        .u32le(kSecondWord)
        .u32le(0)
        .fixedText(deviceName, kDeviceNameWidth)
        .take();
}

std::optional<ClientInfoRecord> ClientInfoRecord::decode(std::span<const uint8_t> payload)
{
    if (payload.size() < kDeviceNameOffset)
        return std::nullopt;
    ByteReader reader(payload);
    const auto textAt = [&reader](size_t offset, size_t width) {
        reader.seek(offset);
        return reader.text(width);
    };
    return ClientInfoRecord{.osVersion = textAt(kOsVersionOffset, kOsVersionWidth),
                            .osName = textAt(kOsNameOffset, kOsNameWidth),
                            .deviceName = textAt(kDeviceNameOffset, kDeviceNameWidth)};
}
