#include "Socket/ReceiveList.h"

#include "Utils/Log.h"

#include <cassert>

ReceiveList::ReceiveList(const char* kind, size_t maxPayload) : kind_(kind), maxPayload_(maxPayload) {}

bool ReceiveList::push(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload)
{
    assert(pusher_.holds() && "a receive list is filled by one thread, so frames keep their order");
    if (maxPayload_ == 0)
        return false;
    if (payload.size() > maxPayload_) {
        NQLOG("dropping %s of %zu bytes: more than %zu", kind_, payload.size(), maxPayload_);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        if (items_.size() >= kCapacity) {
            NQLOG("Ignore %s .... ", kind_);
            return false;
        }
        items_.push_back({type, timeStamp, {payload.begin(), payload.end()}});
    }
    changed_.notify_one();
    return true;
}

std::optional<QueuedMessage> ReceiveList::take()
{
    assert(taker_.holds() && "a receive list is emptied by one thread, so frames keep their order");
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || !items_.empty(); });
    if (closed_)
        return std::nullopt;
    QueuedMessage item = std::move(items_.front());
    items_.pop_front();
    return item;
}

void ReceiveList::close()
{
    std::deque<QueuedMessage> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(items_);
    }
    changed_.notify_all();
}
