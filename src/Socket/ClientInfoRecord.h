#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Our identity, sent after connecting: 176 bytes in our own (little-endian) order. Every text
// field is NUL-terminated and cut at a UTF-8 character boundary to fit.
struct ClientInfoRecord {
    static constexpr size_t kSize = 176;

    std::string osVersion;         // "major.minor.patch", at most 31 bytes
    std::string osName = "macOS";  // the text the TV expects
    std::string deviceName;        // at most 63 bytes

    std::vector<uint8_t> encode() const;
    // Texts are cut at the payload's end; a payload that ends before the device name's field
    // (offset 112) is refused.
    static std::optional<ClientInfoRecord> decode(std::span<const uint8_t> payload);
};
