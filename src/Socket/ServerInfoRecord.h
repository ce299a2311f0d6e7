#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The TV's answer to our client information; only its display name is read.
struct ServerInfoRecord {
    std::string name;

    // The name is the NUL-terminated UTF-8 text at offset 40, cut at the payload's end;
    // a payload that ends before offset 40 is refused.
    static std::optional<ServerInfoRecord> decode(std::span<const uint8_t> payload);
};
