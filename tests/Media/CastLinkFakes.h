#pragma once

#include "Media/EncoderH264/ParameterSetRequest.h"
#include "Media/EncoderH264/SessionKeyProvider.h"

#include <atomic>

// A request for the parameter sets that the test raises by hand, as the link does when the TV asks.
class ParameterSetRequestFlag : public ParameterSetRequest {
public:
    void raise() { pending_.store(true); }
    bool pending() const { return pending_.load(); }
    bool consume() override { return pending_.exchange(false); }

private:
    std::atomic<bool> pending_{false};
};

// The same session key for the whole cast.
class FixedSessionKey : public SessionKeyProvider {
public:
    explicit FixedSessionKey(SessionKey key) : key_(std::move(key)) {}
    SessionKey sessionKey() const override { return key_; }

private:
    const SessionKey key_;
};
