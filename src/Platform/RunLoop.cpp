#include "Platform/RunLoop.h"

#include "Utils/Log.h"

#include <utility>

MainLoop::Clock::time_point RunLoop::now() const
{
    return Clock::now();
}

void RunLoop::run()
{
    if (!isLoopThread()) {
        PLOG("RunLoop::run called off the loop's thread, ignored");
        return;
    }
    std::unique_lock lock(mutex_);
    while (!quit_) {
        std::optional<Task> task = tasks_.takeNext(Clock::now());
        if (task) {
            lock.unlock();
            (*task)();
            task.reset(); // its captures go before the lock is taken again
            lock.lock();
        } else if (const auto deadline = tasks_.nextDeadline()) {
            posted_.wait_until(lock, *deadline);
        } else {
            posted_.wait(lock);
        }
    }
    quit_ = false;
}

void RunLoop::quit()
{
    std::lock_guard lock(mutex_);
    quit_ = true;
    posted_.notify_one();
}
