#include "Socket/StreamHistory.h"

#include <algorithm>
#include <iterator>

StreamHistory::MessagePtr StreamHistory::keep(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload)
{
    auto message = std::make_shared<Message>(Message{0, type, timeStamp, {payload.begin(), payload.end()}});
    std::lock_guard guard(lock_);
    message->id = nextId_++;
    while (messages_.size() >= kCapacity)
        messages_.pop_front();
    messages_.push_back(message);
    return message;
}

StreamHistory::MessagePtr StreamHistory::find(uint32_t id)
{
    std::lock_guard guard(lock_);
    const auto found = std::find_if(messages_.begin(), messages_.end(),
                                    [id](const MessagePtr& message) { return message->id == id; });
    return found == messages_.end() ? nullptr : *found;
}

std::vector<StreamHistory::MessagePtr> StreamHistory::range(const UdpResendRangePayload& range)
{
    std::vector<MessagePtr> picked;
    std::lock_guard guard(lock_);
    if (messages_.empty())
        return picked;
    // 64 bits, so the end after the newest id never wraps.
    const uint64_t first = (range.flags & UdpResendRangePayload::kFromOldest) ? messages_.front()->id : range.firstId;
    uint64_t end = (range.flags & UdpResendRangePayload::kThroughNewest) ? uint64_t{messages_.back()->id} + 1
                                                                         : range.endId;
    if (range.flags == 0)
        ++end;
    std::copy_if(messages_.begin(), messages_.end(), std::back_inserter(picked),
                 [&](const MessagePtr& message) { return first <= message->id && message->id < end; });
    return picked;
}
