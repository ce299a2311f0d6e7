#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs a function on its own thread every interval; an interval of 0 pauses it. The first tick
// comes one interval after start() or after the interval changed.
class IntervalTimer {
public:
    using Interval = std::chrono::milliseconds;

    explicit IntervalTimer(std::function<void()> tick);
    ~IntervalTimer();
    IntervalTimer(const IntervalTimer&) = delete;
    IntervalTimer& operator=(const IntervalTimer&) = delete;

    void start(Interval interval);
    void setInterval(Interval interval);
    // Joins the thread; a tick under way finishes first. Idempotent.
    void stop();

private:
    void run();

    std::function<void()> tick_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Interval interval_{0};
    // Bumped on every change, so a wait restarts with the new interval.
    unsigned generation_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};
