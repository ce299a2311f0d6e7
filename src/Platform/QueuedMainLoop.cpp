#include "Platform/QueuedMainLoop.h"

#include <utility>

QueuedMainLoop::QueuedMainLoop() : thread_(std::this_thread::get_id()) {}

void QueuedMainLoop::post(Task task)
{
    std::lock_guard lock(mutex_);
    tasks_.post(std::move(task));
    posted_.notify_one();
}

void QueuedMainLoop::postAfter(Clock::duration delay, Task task)
{
    std::lock_guard lock(mutex_);
    tasks_.postAt(nowLocked() + delay, std::move(task));
    posted_.notify_one();
}

bool QueuedMainLoop::isLoopThread() const
{
    return std::this_thread::get_id() == thread_;
}
