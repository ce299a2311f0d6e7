#include "Socket/KeyExchangeOffer.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

std::vector<uint8_t> KeyExchangeOffer::encode() const
{
    return ByteWriter(4 + publicKey.size()).i32be(status).bytes(publicKey).take();
}

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
