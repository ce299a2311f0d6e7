#include "Socket/SendLists.h"

#include "Socket/MessageType.h"

#include <cassert>
#include <cstddef>
#include <utility>

SendLists::PushResult SendLists::push(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload)
{
    // Copied before the lock is taken, so the send thread never waits for a large copy.
    QueuedMessage item{type, timeStamp, {payload.begin(), payload.end()}};
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return PushResult::Closed;
        List& list = listFor(type);
        if (isKeyExchangeAnswer(type)) {
            if (list.urgent >= kKeyAnswerCapacity)
                return PushResult::Full;
            // After the answers already waiting, so they leave in the order they were given.
            list.items.insert(list.items.begin() + static_cast<std::ptrdiff_t>(list.urgent++), std::move(item));
        } else {
            if (list.items.size() - list.urgent >= list.capacity)
                return PushResult::Full;
            list.items.push_back(std::move(item));
        }
    }
    changed_.notify_one();
    return PushResult::Queued;
}

std::optional<QueuedMessage> SendLists::take()
{
    assert(taker_.holds() && "one send thread takes, as the socket's only writer");
    std::unique_lock lock(mutex_);
    for (;;) {
        if (closed_)
            return std::nullopt;
        for (List* list : {&other_, &audio_, &video_}) {
            if (!list->items.empty()) {
                QueuedMessage item = std::move(list->items.front());
                list->items.pop_front();
                if (list->urgent > 0)
                    --list->urgent;
                return item;
            }
        }
        changed_.wait(lock);
    }
}

void SendLists::clearMedia()
{
    std::deque<QueuedMessage> audio, video;
    std::lock_guard lock(mutex_);
    audio.swap(audio_.items);
    video.swap(video_.items);
}

void SendLists::close()
{
    std::deque<QueuedMessage> other, audio, video;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        other.swap(other_.items);
        other_.urgent = 0;
        audio.swap(audio_.items);
        video.swap(video_.items);
    }
    changed_.notify_all();
}

bool SendLists::isKeyExchangeAnswer(uint16_t type)
{
    return type == kMsgSessionKey || type == kMsgNoEncryption;
}

SendLists::List& SendLists::listFor(uint16_t type)
{
    switch (type) {
    case kMsgVideoFrame:
        return video_;
    case kMsgAudioFrame:
        return audio_;
    default:
        return other_;
    }
}
