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

// The three bounded lists between the senders and the one send thread of a link. Control messages
// overtake audio, audio overtakes video; a full list drops the new message, so a slow link sheds
// media instead of growing memory. The answer to a key exchange (kMsgSessionKey, kMsgNoEncryption)
// jumps the queue and is kept beyond the control list's cap: lost, it would leave us encrypting
// with a key the TV never received.
class SendLists {
public:
    static constexpr size_t kOtherCapacity = 30;
    static constexpr size_t kVideoCapacity = 30;  // kMsgVideoFrame
    static constexpr size_t kAudioCapacity = 200; // kMsgAudioFrame
    // Key-exchange answers waiting beyond kOtherCapacity: one per offer, so only a TV that floods
    // offers while the link stalls reaches it.
    static constexpr size_t kKeyAnswerCapacity = 30;

    enum class PushResult { Queued, Full, Closed };

    // Any thread: queues a copy in the list of its type.
    PushResult push(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload);
    // Send thread (asserted): the oldest message of the first non-empty list in the order other, audio, video,
    // waiting for one; nullopt once closed.
    std::optional<QueuedMessage> take();
    // Any thread: drops the waiting audio and video frames; control messages stay. A frame take()
    // has already handed out is no longer waiting: the send thread writes it whole.
    void clearMedia();
    // Any thread: ends take() for good; messages still waiting are dropped.
    void close();

private:
    struct List {
        const size_t capacity;
        std::deque<QueuedMessage> items;
        // The first `urgent` items jumped the queue; they don't count against capacity.
        size_t urgent = 0;
    };

    static bool isKeyExchangeAnswer(uint16_t type);
    List& listFor(uint16_t type);

    std::mutex mutex_;
    std::condition_variable changed_;
    // In the order they are served.
    List other_{kOtherCapacity, {}};
    List audio_{kAudioCapacity, {}};
    List video_{kVideoCapacity, {}};
    bool closed_ = false;
    ThreadAffinity taker_;
};
