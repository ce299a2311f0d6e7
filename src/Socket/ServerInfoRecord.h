#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The TV's answer to our client information; only its display name is read.
struct ServerInfoRecord {
    // The size of the record the TV peer of tests sends: the name's field ends the record.
    static constexpr size_t kSize = 104;

    std::string name;

    // The TV's side: zeros, then the name at offset 40 in a 64-byte field (at most 63 bytes, cut
    // at a UTF-8 boundary, NUL-terminated).
    std::vector<uint8_t> encode() const;

    // The name is the NUL-terminated UTF-8 text at offset 40, cut at the payload's end;
    // a payload that ends before offset 40 is refused.
    static std::optional<ServerInfoRecord> decode(std::span<const uint8_t> payload);
};
