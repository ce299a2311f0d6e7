#include "Socket/StreamHistory.h"

#include <algorithm>

void StreamHistory::keep(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload, const Visitor& visit)
{
    Message message{0, type, timeStamp, {payload.begin(), payload.end()}};
    std::lock_guard guard(lock_);
    message.id = nextId_++;
    while (messages_.size() >= kCapacity)
        messages_.pop_front();
    messages_.push_back(std::move(message));
    visit(messages_.back());
}

bool StreamHistory::visit(uint32_t id, const Visitor& visit)
{
    std::lock_guard guard(lock_);
    const auto found = std::find_if(messages_.begin(), messages_.end(),
                                    [id](const Message& message) { return message.id == id; });
    if (found == messages_.end())
        return false;
    visit(*found);
    return true;
}

void StreamHistory::visitRange(const UdpResendRangePayload& range, const Visitor& visit)
{
    std::lock_guard guard(lock_);
    if (messages_.empty())
        return;
    // 64 bits, so the end after the newest id never wraps.
    const uint64_t first = (range.flags & UdpResendRangePayload::kFromOldest) ? messages_.front().id : range.firstId;
    uint64_t end = (range.flags & UdpResendRangePayload::kThroughNewest) ? uint64_t{messages_.back().id} + 1
                                                                         : range.endId;
    if (range.flags == 0)
        ++end;
    for (const Message& message : messages_) {
        if (first <= message.id && message.id < end)
            visit(message);
    }
}
