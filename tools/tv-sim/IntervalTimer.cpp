#include "tv-sim/IntervalTimer.h"

#include <utility>

IntervalTimer::IntervalTimer(std::function<void()> tick) : tick_(std::move(tick)) {}

IntervalTimer::~IntervalTimer()
{
    stop();
}

void IntervalTimer::start(Interval interval)
{
    {
        std::lock_guard lock(mutex_);
        if (thread_.joinable() || stopping_)
            return;
        interval_ = interval;
    }
    thread_ = std::thread([this] { run(); });
}

void IntervalTimer::setInterval(Interval interval)
{
    {
        std::lock_guard lock(mutex_);
        interval_ = interval;
        ++generation_;
    }
    changed_.notify_all();
}

void IntervalTimer::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

// On the timer's own thread.
void IntervalTimer::run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const unsigned generation = generation_;
        const auto changed = [&] { return stopping_ || generation_ != generation; };
        if (interval_.count() <= 0) {
            changed_.wait(lock, changed);
            continue;
        }
        if (changed_.wait_for(lock, interval_, changed))
            continue;
        // The tick runs unlocked so it may change the interval or take its time.
        lock.unlock();
        tick_();
        lock.lock();
    }
}
