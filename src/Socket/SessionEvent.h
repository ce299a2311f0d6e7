#pragma once

#include <chrono>
#include <cstdint>
#include <span>

class SessionEventDelivery;

// One row of the session's event table: a message type the transport raises, the thread or queue its
// action runs on, and the handler that decodes the payload and hands its action to the delivery.
struct SessionEvent {
    enum class Delivery : uint8_t {
        AtOnce,         // on the transport thread that raised it
        SessionQueue,   // posted to the session queue "queue"
        MainQueueLater, // posted to the main queue, kMainQueueDelay later
    };
    static constexpr std::chrono::milliseconds kMainQueueDelay{1'000};

    // Runs on the transport thread; the payload is valid only during the call.
    using Handler = void (*)(SessionEventDelivery& delivery, int type, std::span<const uint8_t> payload);

    uint16_t type;
    Delivery delivery;
    Handler handle;
};
