#pragma once

#include "tv-sim/ReceivedMessage.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
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
    size_t count() const;
    size_t countOfType(uint16_t type) const;
    bool connected() const;
    std::string peer() const;
    size_t linksAccepted() const;

    // For each of types, the messages of that type recorded after the last one of type `after`;
    // nullopt when no message of that type is in the log.
    std::optional<std::vector<size_t>> countsAfterLast(uint16_t after, std::span<const uint16_t> types) const;
    // The kept payloads of every message of the type, one after the other in order of arrival.
    std::vector<uint8_t> joinedPayloads(uint16_t type) const;

    // Each waits until its condition holds or the timeout passes, and tells whether it held.
    bool waitUntil(const Predicate& done, Timeout timeout) const;
    // Counted as messages arrive, so a waiter costs nothing per message already in the log.
    bool waitForCount(size_t count, Timeout timeout) const;
    bool waitForCountOfType(uint16_t type, size_t count, Timeout timeout) const;
    bool waitForLink(size_t links, Timeout timeout) const;
    bool waitForNoLink(Timeout timeout) const;

private:
    template <class Condition>
    bool wait(Condition condition, Timeout timeout) const;
    // With mutex_ held.
    size_t countOfTypeLocked(uint16_t type) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    // Per type, of the messages in messages_.
    std::unordered_map<uint16_t, size_t> countsByType_;
    std::string peer_;
    bool connected_ = false;
    size_t linksAccepted_ = 0;
};
