#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Our 32-byte session key encrypted with the TV's public key (RSA PKCS#1 v1.5), sent as it stands.
// Empty when the key could not be wrapped.
struct WrappedSessionKey {
    std::vector<uint8_t> wrapped;

    std::vector<uint8_t> encode() const;
    // The TV's side: the whole payload is the wrapped key (its length is checked on unwrapping).
    static WrappedSessionKey decode(std::span<const uint8_t> payload);
};
