#pragma once

#include <cstddef>
#include <deque>

// The bytes a relay client has been handed but not yet taken: a client that stops reading must not
// make the relay hold the TV's stream without end. Whole messages past the cap are refused; the first
// refusal after the queue last moved asks for a log line. Used on one queue only.
class RoziWriteQueue {
public:
    static constexpr size_t kDefaultCap = 16u << 20;

    enum class Admit { Queued, Dropped, DroppedFirst };

    explicit RoziWriteQueue(size_t cap = kDefaultCap) : cap_(cap) {}

    // A message of `length` bytes about to be written.
    Admit admit(size_t length);
    // The oldest admitted message has been written (writes complete in order).
    void written();
    size_t queuedBytes() const { return queuedBytes_; }

private:
    size_t cap_;
    size_t queuedBytes_ = 0;
    std::deque<size_t> lengths_;
    bool dropLogged_ = false;
};
