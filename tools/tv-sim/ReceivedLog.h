#pragma once

#include "tv-sim/ReceivedMessage.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What the TV peer saw, in order of arrival: the messages and the state of its link. Writers are the
// peer's receive threads; readers and waiters are tests on any thread.
class ReceivedLog {
public:
    using Timeout = std::chrono::milliseconds;
    using Predicate = std::function<bool(const std::vector<ReceivedMessage>&)>;

    void add(ReceivedMessage message);
    void linkUp(const std::string& peer);
    void linkDown();
    void clear();

    std::vector<ReceivedMessage> messages() const;
    // Messages for which match is true.
    size_t countIf(const std::function<bool(const ReceivedMessage&)>& match) const;
    bool connected() const;
    std::string peer() const;
    size_t linksAccepted() const;

    // Each waits until its condition holds or the timeout passes, and tells whether it held.
    bool waitUntil(const Predicate& done, Timeout timeout) const;
    bool waitForLink(size_t links, Timeout timeout) const;
    bool waitForNoLink(Timeout timeout) const;

private:
    template <class Condition>
    bool wait(Condition condition, Timeout timeout) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    std::string peer_;
    bool connected_ = false;
    size_t linksAccepted_ = 0;
};
