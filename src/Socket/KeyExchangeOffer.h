#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The TV's offer of an encrypted session: a big-endian status word (0: no encryption), then,
// when the status is not 0, the TV's RSA public key.
struct KeyExchangeOffer {
    int32_t status = 0;
    std::vector<uint8_t> publicKey;

    bool encrypted() const { return status != 0; }

    // The TV's side: the status word, then the key as it stands.
    std::vector<uint8_t> encode() const;

    // A short status word is zero-extended like any integer payload; a payload of four bytes or
    // fewer carries no key (the import then fails and the exchange answers without one).
    static KeyExchangeOffer decode(std::span<const uint8_t> payload);
};
