#include "Platform/RunLoop.h"

#include "Utils/Log.h"

#include <utility>

RunLoop::RunLoop() : thread_(std::this_thread::get_id()) {}

void RunLoop::post(Task task)
{
    std::lock_guard lock(mutex_);
    tasks_.post(std::move(task));
    wake_.notify_one();
}

void RunLoop::postAfter(Clock::duration delay, Task task)
{
    std::lock_guard lock(mutex_);
    tasks_.postAt(Clock::now() + delay, std::move(task));
    wake_.notify_one();
}

MainLoop::Clock::time_point RunLoop::now() const
{
    return Clock::now();
}

bool RunLoop::isLoopThread() const
{
    return std::this_thread::get_id() == thread_;
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
            wake_.wait_until(lock, *deadline);
        } else {
            wake_.wait(lock);
        }
    }
    quit_ = false;
}

void RunLoop::quit()
{
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_one();
}
