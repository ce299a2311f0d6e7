#include "Socket/KeyExchangeOffer.h"

#include "Utils/ByteReader.h"

KeyExchangeOffer KeyExchangeOffer::decode(std::span<const uint8_t> payload)
{
    ByteReader reader(payload);
    KeyExchangeOffer offer;
    offer.status = reader.i32be();
    if (offer.encrypted()) {
        const auto key = reader.rest();
        offer.publicKey.assign(key.begin(), key.end());
    }
    return offer;
}
