#pragma once

#include "Socket/QueuedMessage.h"
#include "Utils/ThreadAffinity.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>

// Hands received media frames from the receive thread to one delivery thread, so a slow listener
// never stalls the link: at most kCapacity frames wait, newer ones are dropped.
class ReceiveList {
public:
    static constexpr size_t kCapacity = 15;

    // kind names the frames in the drop line ("VideoData"). maxPayload is the largest frame taken;
    // 0 makes a list that takes no frame at all (they are dropped without a line).
    ReceiveList(const char* kind, size_t maxPayload);

    // Receive thread (asserted, as for take): queues a copy. False when the frame was dropped: too large (logged), the list
    // full (logged) or closed.
    bool push(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload);
    // Delivery thread: the oldest frame, waiting for one; nullopt once closed.
    std::optional<QueuedMessage> take();
    // Any thread: ends take() for good; frames still waiting are dropped.
    void close();

private:
    const char* const kind_;
    const size_t maxPayload_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedMessage> items_;
    bool closed_ = false;
    ThreadAffinity pusher_;
    ThreadAffinity taker_;
};
