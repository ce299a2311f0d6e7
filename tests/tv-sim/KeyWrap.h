#pragma once

#include "Socket/KeyExchangeOffer.h"
#include "Utils/NSDataAES.h"
#include "Utils/RSAKey.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// What a client does with an encrypted key exchange offer: the session key wrapped with the
// offered public key; nullopt when the offer carries no usable key.
inline std::optional<std::vector<uint8_t>> wrapForOffer(std::span<const uint8_t> offerPayload,
                                                        std::span<const uint8_t> sessionKey)
{
    const auto offer = KeyExchangeOffer::decode(offerPayload);
    const auto publicKey = RSAKey::importPublicKey(offer.publicKey);
    if (!offer.encrypted() || !publicKey)
        return std::nullopt;
    return NSDataAES::RSAEncryptWithPublicKey(sessionKey, *publicKey);
}
