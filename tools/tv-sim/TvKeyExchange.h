#pragma once

#include "tv-sim/SimTimeout.h"
#include "Utils/RSAKey.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// The TV's side of the key exchange: its RSA-2048 key pair (made once, reused for every offer),
// the offer it sends, the session key it unwraps from the client's answer, and the outcome tests
// wait for. Safe from any thread.
class TvKeyExchange {
public:
    enum class Outcome { None, Agreed, Declined, Failed };
    static constexpr size_t kSessionKeyLength = 32;

    static const char* name(Outcome outcome);

    // Makes the key pair now unless it exists; false (logged) when generation fails.
    bool prepare();
    // The kMsgKeyExchangeOffer payload: {1, public key} or {0}. Starts a new exchange (outcome None,
    // no key). nullopt when an encrypted offer has no key pair to offer.
    std::optional<std::vector<uint8_t>> offer(bool encrypted);
    // The client's kMsgSessionKey and kMsgNoEncryption; each returns the outcome it settled.
    Outcome onSessionKey(std::span<const uint8_t> wrapped);
    Outcome onNoEncryption();
    // A new link: no key, no outcome.
    void reset();

    Outcome outcome() const;
    Outcome waitForOutcome(std::chrono::milliseconds timeout = kSimDefaultTimeout) const;
    std::optional<std::vector<uint8_t>> sessionKey() const;
    // The EncryptedFrame opened with the session key; nullopt when there is no key or the frame is
    // shorter than its IV.
    std::optional<std::vector<uint8_t>> open(std::span<const uint8_t> frame) const;

private:
    Outcome settle(Outcome outcome, std::optional<std::vector<uint8_t>> key);

    mutable std::mutex mutex_;
    mutable std::condition_variable settled_;
    std::optional<RSAKeyPair> keyPair_;
    std::optional<std::vector<uint8_t>> sessionKey_;
    Outcome outcome_ = Outcome::None;
};
