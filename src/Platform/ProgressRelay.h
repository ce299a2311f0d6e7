#pragma once

#include "Platform/DispatchQueue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// Carries one transfer's byte counts from the thread that moves the bytes to a queue (the main queue),
// at most once every kInterval. The mover only stores the count and posts a delivery when none is
// pending, so it never waits for the receiving queue; the receiver gets the latest count, never a
// backlog, and the last count reported is always delivered (unless stopped first).
//
// Threads: report() from any thread; the delivery runs on the target queue; stop() on the target
// queue (asserted), after which no delivery runs and the delivery's captures are let go. A transfer's
// end may come before its last delivery: stop() gives the last counts reported.
class ProgressRelay : public std::enable_shared_from_this<ProgressRelay> {
public:
    // Bytes moved so far and the size to move (0 while unknown).
    using Deliver = std::function<void(uint64_t done, uint64_t size)>;

    // Ten deliveries a second: a bar moves smoothly to the eye, and the receiving thread redraws little
    // however fast the reports come.
    static constexpr std::chrono::milliseconds kInterval{100};

    static std::shared_ptr<ProgressRelay> create(std::shared_ptr<DispatchQueue> target, Deliver deliver);

    struct Counts {
        uint64_t done = 0;
        uint64_t size = 0;
    };

    void report(uint64_t done, uint64_t size);
    Counts stop();

private:
    ProgressRelay(std::shared_ptr<DispatchQueue> target, Deliver deliver);
    void deliver();

    const std::shared_ptr<DispatchQueue> target_;
    // Touched on the target queue only.
    Deliver deliver_;
    // The two counts are stored apart: a delivery may pair a new count with the size before it, which
    // only ever changes from unknown to known.
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> size_{0};
    std::atomic<bool> pending_{false};
    // The target clock's time of the last delivery, as a count of its ticks.
    std::atomic<DispatchQueue::Clock::rep> lastDelivery_{0};
};
