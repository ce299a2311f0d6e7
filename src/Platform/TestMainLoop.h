#pragma once

#include "Platform/QueuedMainLoop.h"

#include <cstddef>
#include <functional>

// A main loop for tests, driven by the test's own thread, with a virtual clock that moves only when
// the test advances it. Other threads may post to it at any time.
class TestMainLoop final : public QueuedMainLoop {
public:
    // The creating (test) thread is the loop's thread and the only one that may drive it
    // (asserted).
    TestMainLoop() = default;

    Clock::time_point now() const override;

    // Runs tasks, and those they post, until none is due at the current virtual time. Returns how many ran.
    size_t runUntilIdle();
    // Moves the virtual clock forward by `by`, running each delayed task at its own deadline in time
    // order, together with the tasks it posts.
    void advance(Clock::duration by);
    // For work arriving from other threads: runs tasks as they come until `done` is true (checked on the
    // loop's thread) or `realTimeout` of real time has passed. The virtual clock does not move.
    bool runUntil(const std::function<bool()>& done, Clock::duration realTimeout = std::chrono::seconds(10));

private:
    Clock::time_point nowLocked() const override { return now_; }
    bool runOne();

    // Starts away from zero, so a zero time point can still mean "never" to the code under test.
    Clock::time_point now_ = Clock::time_point{} + std::chrono::hours(1);
};
