#include "tv-sim/ReceivedLog.h"

#include <algorithm>
#include <utility>

void ReceivedLog::add(ReceivedMessage message)
{
    {
        std::lock_guard lock(mutex_);
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
}

std::vector<ReceivedMessage> ReceivedLog::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

size_t ReceivedLog::countIf(const std::function<bool(const ReceivedMessage&)>& match) const
{
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(messages_.begin(), messages_.end(), match));
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

bool ReceivedLog::waitForLink(size_t links, Timeout timeout) const
{
    return wait([&] { return connected_ && linksAccepted_ >= links; }, timeout);
}

bool ReceivedLog::waitForNoLink(Timeout timeout) const
{
    return wait([&] { return linksAccepted_ > 0 && !connected_; }, timeout);
}
