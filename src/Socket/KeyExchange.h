#pragma once

#include "Socket/SessionKeyHolder.h"
#include "Utils/RSAKey.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// Our side of the key exchange the TV offers: a fresh random AES-256 session key, wrapped with the
// TV's RSA public key. Any failure (no key in the offer, a key that does not import, a failed
// random source or wrap) keeps no key and declines, so both sides agree that frames travel in clear.
// Stateless apart from its two operations; safe from any thread.
class KeyExchange {
public:
    static constexpr size_t kSessionKeyLength = 32;

    // length bytes from a cryptographically secure source; nullopt when it fails.
    using RandomSource = std::function<std::optional<std::vector<uint8_t>>(size_t length)>;
    // The session key encrypted with the TV's public key (RSA PKCS#1 v1.5); nullopt when it fails.
    using Wrap = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t> key, const RSAKey& tvKey)>;

    // What to answer and which key to keep.
    struct Answer {
        uint16_t type = 0;            // kMsgSessionKey or kMsgNoEncryption
        std::vector<uint8_t> payload; // the WrappedSessionKey; empty for kMsgNoEncryption
        SessionKey key;               // null unless agreed
    };

    // The system's random source and RSA encryption.
    KeyExchange();
    KeyExchange(RandomSource random, Wrap wrap);

    // The answer to one kMsgKeyExchangeOffer payload.
    Answer answer(std::span<const uint8_t> offerPayload) const;

private:
    RandomSource random_;
    Wrap wrap_;
};
