#include "Platform/LoopTaskQueue.h"

#include <utility>

void LoopTaskQueue::post(Task task)
{
    ready_.push_back(std::move(task));
}

void LoopTaskQueue::postAt(Clock::time_point deadline, Task task)
{
    delayed_.emplace(deadline, std::move(task));
}

std::optional<LoopTaskQueue::Task> LoopTaskQueue::takeNext(Clock::time_point now)
{
    while (!delayed_.empty() && delayed_.begin()->first <= now) {
        ready_.push_back(std::move(delayed_.begin()->second));
        delayed_.erase(delayed_.begin());
    }
    if (ready_.empty())
        return std::nullopt;
    std::optional<Task> task(std::move(ready_.front()));
    ready_.pop_front();
    return task;
}

bool LoopTaskQueue::hasDue(Clock::time_point now) const
{
    return !ready_.empty() || (!delayed_.empty() && delayed_.begin()->first <= now);
}

std::optional<LoopTaskQueue::Clock::time_point> LoopTaskQueue::nextDeadline() const
{
    if (delayed_.empty())
        return std::nullopt;
    return delayed_.begin()->first;
}
