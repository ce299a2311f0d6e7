#pragma once

#include "Platform/SerialQueue.h"
#include "Socket/SessionDelegates.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

// Turns each message of the TV that only informs a delegate into that delegate's call, on the
// thread the message needs: on the session queue (the casting code, the TV's cast requests, the
// quality answer), on the main queue one second later (the reverse invitation), or at once on the
// transport thread that raised it (everything else). What changes the session's own state is left
// to TCPManager.
class DelegateEventRouter {
public:
    static constexpr std::chrono::milliseconds kReverseInviteDelay{1'000};
    // Versions of the TV application above this one have the camera and microphone relay.
    static constexpr int32_t kRoziMinimumTvVersion = 75;

    DelegateEventRouter(std::shared_ptr<SessionDelegates> delegates, std::shared_ptr<SerialQueue> queue);

    // Transport thread. False when the message is not one of these.
    bool route(int type, std::span<const uint8_t> payload) const;

private:
    const std::shared_ptr<SessionDelegates> delegates_;
    const std::shared_ptr<SerialQueue> queue_;
};
