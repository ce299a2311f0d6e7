#include "Platform/TestMainLoop.h"

#include <algorithm>
#include <cassert>
#include <utility>

MainLoop::Clock::time_point TestMainLoop::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

// Every way of driving the loop comes through here.
bool TestMainLoop::runOne()
{
    assert(isLoopThread() && "a test main loop is driven only by the thread that made it");
    std::optional<Task> task;
    {
        std::lock_guard lock(mutex_);
        task = tasks_.takeNext(now_);
    }
    if (!task)
        return false;
    (*task)();
    return true;
}

size_t TestMainLoop::runUntilIdle()
{
    size_t count = 0;
    while (runOne())
        ++count;
    return count;
}

void TestMainLoop::advance(Clock::duration by)
{
    const Clock::time_point target = now() + by;
    for (;;) {
        runUntilIdle();
        std::lock_guard lock(mutex_);
        const auto deadline = tasks_.nextDeadline();
        if (!deadline || *deadline > target)
            break;
        now_ = std::max(now_, *deadline);
    }
    {
        std::lock_guard lock(mutex_);
        now_ = target;
    }
    runUntilIdle();
}

bool TestMainLoop::runUntil(const std::function<bool()>& done, Clock::duration realTimeout)
{
    // `done` may also turn on state that other threads change without posting anything, so it is
    // looked at again every millisecond, not only when a task arrives.
    const auto giveUp = Clock::now() + realTimeout;
    for (;;) {
        runUntilIdle();
        if (done())
            return true;
        const auto now = Clock::now();
        if (now >= giveUp)
            return false;
        std::unique_lock lock(mutex_);
        posted_.wait_until(lock, std::min(giveUp, now + std::chrono::milliseconds(1)),
                           [this] { return tasks_.hasDue(now_); });
    }
}
