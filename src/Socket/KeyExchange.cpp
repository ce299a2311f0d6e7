#include "Socket/KeyExchange.h"

#include "Socket/KeyExchangeOffer.h"
#include "Socket/MessageType.h"
#include "Socket/WrappedSessionKey.h"
#include "Utils/Log.h"
#include "Utils/NSDataAES.h"
#include "Utils/PUtils.h"

#include <utility>

namespace {

KeyExchange::Answer decline()
{
    return {.type = kMsgNoEncryption, .payload = {}, .key = nullptr};
}

} // namespace

KeyExchange::KeyExchange() : KeyExchange(PUtils::genRandomWithByteLen, NSDataAES::RSAEncryptWithPublicKey) {}

KeyExchange::KeyExchange(RandomSource random, Wrap wrap) : random_(std::move(random)), wrap_(std::move(wrap)) {}

KeyExchange::Answer KeyExchange::answer(std::span<const uint8_t> offerPayload) const
{
    const KeyExchangeOffer offer = KeyExchangeOffer::decode(offerPayload);
    PLOG("aes status = %d", offer.status);
    if (!offer.encrypted())
        return decline();
    const auto tvKey = RSAKey::importPublicKey(offer.publicKey);
    if (!tvKey) {
        PLOG("key exchange declined: the TV's public key (%zu bytes) does not import", offer.publicKey.size());
        return decline();
    }
    auto key = random_(kSessionKeyLength);
    if (!key || key->size() != kSessionKeyLength) {
        PLOG("key exchange declined: no session key from the random source");
        return decline();
    }
    auto wrapped = wrap_(*key, *tvKey);
    if (!wrapped || wrapped->empty()) {
        PLOG("key exchange declined: the session key could not be wrapped");
        return decline();
    }
    return {.type = kMsgSessionKey,
            .payload = WrappedSessionKey{std::move(*wrapped)}.encode(),
            .key = std::make_shared<const std::vector<uint8_t>>(std::move(*key))};
}
