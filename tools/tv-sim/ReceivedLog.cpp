#include "tv-sim/ReceivedLog.h"

#include <algorithm>
#include <utility>

void ReceivedLog::add(ReceivedMessage message)
{
    {
        std::lock_guard lock(mutex_);
        ++countsByType_[message.type];
        messages_.push_back(std::move(message));
    }
    changed_.notify_all();
}

void ReceivedLog::linkUp(const std::string& peer)
{
    {
        std::lock_guard lock(mutex_);
        peer_ = peer;
        connected_ = true;
        ++linksAccepted_;
    }
    changed_.notify_all();
}

void ReceivedLog::linkDown()
{
    {
        std::lock_guard lock(mutex_);
        peer_.clear();
        connected_ = false;
    }
    changed_.notify_all();
}

void ReceivedLog::clear()
{
    std::lock_guard lock(mutex_);
    messages_.clear();
    countsByType_.clear();
}

std::vector<ReceivedMessage> ReceivedLog::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

size_t ReceivedLog::count() const
{
    std::lock_guard lock(mutex_);
    return messages_.size();
}

size_t ReceivedLog::countOfType(uint16_t type) const
{
    std::lock_guard lock(mutex_);
    return countOfTypeLocked(type);
}

size_t ReceivedLog::countOfTypeLocked(uint16_t type) const
{
    const auto found = countsByType_.find(type);
    return found == countsByType_.end() ? 0 : found->second;
}

bool ReceivedLog::connected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

std::string ReceivedLog::peer() const
{
    std::lock_guard lock(mutex_);
    return peer_;
}

size_t ReceivedLog::linksAccepted() const
{
    std::lock_guard lock(mutex_);
    return linksAccepted_;
}

std::optional<std::vector<size_t>> ReceivedLog::countsAfterLast(uint16_t after, std::span<const uint16_t> types) const
{
    std::lock_guard lock(mutex_);
    const auto last = std::find_if(messages_.rbegin(), messages_.rend(),
                                   [after](const ReceivedMessage& message) { return message.type == after; });
    if (last == messages_.rend())
        return std::nullopt;
    std::vector<size_t> counts;
    for (const uint16_t type : types)
        counts.push_back(static_cast<size_t>(std::count_if(
            messages_.rbegin(), last, [type](const ReceivedMessage& message) { return message.type == type; })));
    return counts;
}

std::vector<uint8_t> ReceivedLog::joinedPayloads(uint16_t type) const
{
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> joined;
    for (const ReceivedMessage& message : messages_)
        if (message.type == type)
            joined.insert(joined.end(), message.payload.begin(), message.payload.end());
    return joined;
}

template <class Condition>
bool ReceivedLog::wait(Condition condition, Timeout timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, condition);
}

bool ReceivedLog::waitUntil(const Predicate& done, Timeout timeout) const
{
    return wait([&] { return done(messages_); }, timeout);
}

bool ReceivedLog::waitForCount(size_t count, Timeout timeout) const
{
    return wait([&] { return messages_.size() >= count; }, timeout);
}

bool ReceivedLog::waitForCountOfType(uint16_t type, size_t count, Timeout timeout) const
{
    return wait([&] { return countOfTypeLocked(type) >= count; }, timeout);
}

bool ReceivedLog::waitForLink(size_t links, Timeout timeout) const
{
    return wait([&] { return connected_ && linksAccepted_ >= links; }, timeout);
}

bool ReceivedLog::waitForNoLink(Timeout timeout) const
{
    return wait([&] { return linksAccepted_ > 0 && !connected_; }, timeout);
}
