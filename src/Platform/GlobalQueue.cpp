#include "Platform/GlobalQueue.h"

#include "Platform/DispatchPool.h"

#include <utility>

std::shared_ptr<GlobalQueue> GlobalQueue::shared(Priority priority)
{
    // Never destroyed: pool threads may run their tasks while static objects are torn down at exit.
    static const auto* const defaultQueue = new std::shared_ptr<GlobalQueue>(new GlobalQueue("global.default"));
    static const auto* const highQueue = new std::shared_ptr<GlobalQueue>(new GlobalQueue("global.high"));
    return priority == Priority::High ? *highQueue : *defaultQueue;
}

GlobalQueue::GlobalQueue(std::string label) : DispatchQueue(std::move(label)) {}

// The queues are immortal, so tasks may hold `this` plainly.
void GlobalQueue::async(Task task)
{
    DispatchPool::shared().post([this, task = std::move(task)] { runAsCurrent(task); });
}

void GlobalQueue::sync(const Task& task)
{
    runAsCurrent(task);
}

void GlobalQueue::asyncAfter(Clock::duration delay, Task task)
{
    asyncAfterCancellable(delay, std::move(task));
}

std::shared_ptr<DispatchQueue::DelayedTask> GlobalQueue::asyncAfterCancellable(Clock::duration delay, Task task)
{
    return DispatchPool::shared().after(delay, [this, task = std::move(task)] { runAsCurrent(task); });
}

bool GlobalQueue::isCurrent() const
{
    return markedCurrent();
}
