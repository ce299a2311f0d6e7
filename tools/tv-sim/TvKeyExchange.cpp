#include "tv-sim/TvKeyExchange.h"

#include "Socket/KeyExchangeOffer.h"
#include "Socket/WrappedSessionKey.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/Log.h"
#include "Utils/NSDataAES.h"

#include <utility>

const char* TvKeyExchange::name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Agreed:
        return "agreed";
    case Outcome::Declined:
        return "declined";
    case Outcome::Failed:
        return "failed";
    case Outcome::None:
        break;
    }
    return "none";
}

bool TvKeyExchange::prepare()
{
    std::lock_guard lock(mutex_);
    if (!keyPair_)
        keyPair_ = NSDataAES::genRSAKeyPairWithKeySize(RSAKey::kTvKeyBits);
    if (!keyPair_)
        PLOG("tv-sim: no RSA key pair for the key exchange");
    return keyPair_.has_value();
}

std::optional<std::vector<uint8_t>> TvKeyExchange::offer(bool encrypted)
{
    if (encrypted && !prepare())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    KeyExchangeOffer offer;
    if (encrypted) {
        const auto publicKey = keyPair_->publicKey.exportPublicKey();
        if (!publicKey)
            return std::nullopt;
        offer = {.status = 1, .publicKey = *publicKey};
    }
    sessionKey_.reset();
    outcome_ = Outcome::None;
    return offer.encode();
}

TvKeyExchange::Outcome TvKeyExchange::onSessionKey(std::span<const uint8_t> payload)
{
    const auto wrapped = WrappedSessionKey::decode(payload).wrapped;
    std::optional<RSAKeyPair> keyPair;
    {
        std::lock_guard lock(mutex_);
        keyPair = keyPair_;
    }
    if (wrapped.empty() || !keyPair) {
        PLOG("tv-sim: key exchange failed: %s", wrapped.empty() ? "empty session key" : "no key was offered");
        return settle(Outcome::Failed, std::nullopt);
    }
    auto key = NSDataAES::RSADecryptWithPrivateKey(wrapped, keyPair->privateKey);
    if (!key || key->size() != kSessionKeyLength) {
        PLOG("tv-sim: key exchange failed: the %zu-byte session key does not unwrap to %zu bytes", wrapped.size(),
             kSessionKeyLength);
        return settle(Outcome::Failed, std::nullopt);
    }
    return settle(Outcome::Agreed, std::move(key));
}

TvKeyExchange::Outcome TvKeyExchange::onNoEncryption()
{
    return settle(Outcome::Declined, std::nullopt);
}

void TvKeyExchange::reset()
{
    std::lock_guard lock(mutex_);
    sessionKey_.reset();
    outcome_ = Outcome::None;
}

TvKeyExchange::Outcome TvKeyExchange::settle(Outcome outcome, std::optional<std::vector<uint8_t>> key)
{
    {
        std::lock_guard lock(mutex_);
        sessionKey_ = std::move(key);
        outcome_ = outcome;
    }
    settled_.notify_all();
    return outcome;
}

TvKeyExchange::Outcome TvKeyExchange::outcome() const
{
    std::lock_guard lock(mutex_);
    return outcome_;
}

TvKeyExchange::Outcome TvKeyExchange::waitForOutcome(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    settled_.wait_for(lock, timeout, [this] { return outcome_ != Outcome::None; });
    return outcome_;
}

std::optional<std::vector<uint8_t>> TvKeyExchange::sessionKey() const
{
    std::lock_guard lock(mutex_);
    return sessionKey_;
}

std::optional<std::vector<uint8_t>> TvKeyExchange::open(std::span<const uint8_t> frame) const
{
    const auto key = sessionKey();
    if (!key)
        return std::nullopt;
    return EncryptedFrame::open(frame, *key);
}
