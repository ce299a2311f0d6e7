#pragma once

#include <cstdint>
#include <span>
#include <string>

// Digests by which reports and tests recognise payloads without keeping them.
class PayloadDigest {
public:
    // Lower-case hex SHA-256 (64 characters).
    static std::string sha256Hex(std::span<const uint8_t> bytes);
};
