#pragma once

#include "Socket/UdpResendRangePayload.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

// The newest messages sent on one stream of the UDP side channel, kept so the TV can ask for them
// again. Ids count from 0 and are never reset, so they stay unique across reconnections.
// Every visit runs under the history's lock, so keeping, evicting and (re)transmitting on one
// stream never interleave. Any thread.
class StreamHistory {
public:
    static constexpr size_t kCapacity = 30;

    struct Message {
        uint32_t id = 0;
        uint16_t type = 0;
        // Microseconds since the Unix epoch, taken when the message was kept.
        uint64_t timeStamp = 0;
        std::vector<uint8_t> payload;
    };
    using Visitor = std::function<void(const Message&)>;

    // Keeps a copy of the message under the next id, dropping the oldest beyond kCapacity, and
    // hands the kept copy to visit.
    void keep(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload, const Visitor& visit);
    // Hands the kept message with this id to visit; false when it is no longer (or never was) kept.
    bool visit(uint32_t id, const Visitor& visit);
    // Hands every kept message in the requested run to visit, oldest first. kFromOldest replaces the
    // first id with the oldest kept one, kThroughNewest the end id with the newest kept one + 1; with
    // no flag the end id is included, with any flag it is excluded.
    void visitRange(const UdpResendRangePayload& range, const Visitor& visit);

private:
    std::mutex lock_;
    uint32_t nextId_ = 0;
    std::deque<Message> messages_;
};
