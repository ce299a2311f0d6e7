#pragma once

#include "Socket/UdpResendRangePayload.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

// The newest messages sent on one stream of the UDP side channel, kept so the TV can ask for them
// again. Ids count from 0 and are never reset, so they stay unique across reconnections.
// Kept messages are handed out as shared, immutable copies, so they go on the wire after the
// history's lock is released and an eviction meanwhile does not free them. Any thread.
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
    using MessagePtr = std::shared_ptr<const Message>;

    // Keeps a copy of the message under the next id, dropping the oldest beyond kCapacity.
    MessagePtr keep(uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload);
    // The kept message with this id; null when it is no longer (or never was) kept.
    MessagePtr find(uint32_t id);
    // Every kept message in the requested run, oldest first. kFromOldest replaces the first id with
    // the oldest kept one, kThroughNewest the end id with the newest kept one + 1; with no flag the
    // end id is included, with any flag it is excluded.
    std::vector<MessagePtr> range(const UdpResendRangePayload& range);

private:
    std::mutex lock_;
    uint32_t nextId_ = 0;
    std::deque<MessagePtr> messages_;
};
