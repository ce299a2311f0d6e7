#include "Platform/SerialQueue.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"

#include <cassert>
#include <utility>

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label)
{
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label)));
}

SerialQueue::SerialQueue(std::string label) : DispatchQueue(std::move(label)) {}

void SerialQueue::async(Task task)
{
    std::lock_guard lock(mutex_);
    items_.push_back({std::move(task)});
    if (!held_) {
        held_ = true;
        DispatchPool::shared().post([self = shared_from_this()] { self->drain(); });
    }
}

void SerialQueue::sync(const Task& task)
{
    if (isCurrent()) {
        runAsCurrent(task);
        return;
    }
    assert(ThreadRole::mayWait() && "a hand-off thread never waits for a queue");
    // The task may drop the last other owner of this queue.
    const auto self = shared_from_this();
    {
        std::unique_lock lock(mutex_);
        if (held_) {
            bool granted = false;
            items_.push_back({Task{}, &granted});
            const DispatchPool::BlockingScope blocking;
            handedOver_.wait(lock, [&granted] { return granted; });
        } else {
            held_ = true;
        }
    }
    runAsCurrent(task);
    release();
}

bool SerialQueue::runIfIdle(const Task& task)
{
    // The task may drop the last other owner of this queue.
    const auto self = shared_from_this();
    {
        std::lock_guard lock(mutex_);
        if (held_)
            return false;
        held_ = true;
    }
    runAsCurrent(task);
    release();
    return true;
}

void SerialQueue::asyncAfter(Clock::duration delay, Task task)
{
    asyncAfterCancellable(delay, std::move(task));
}

std::shared_ptr<DispatchQueue::DelayedTask> SerialQueue::asyncAfterCancellable(Clock::duration delay, Task task)
{
    return DispatchPool::shared().after(delay, [self = shared_from_this(), task = std::move(task)]() mutable {
        self->async(std::move(task));
    });
}

bool SerialQueue::isCurrent() const
{
    return markedCurrent();
}

void SerialQueue::drain()
{
    std::unique_lock lock(mutex_);
    while (!items_.empty()) {
        Item item = std::move(items_.front());
        items_.pop_front();
        if (item.granted) {
            // The waiting sync() caller now holds the queue; its release() continues the rest.
            *item.granted = true;
            handedOver_.notify_all();
            return;
        }
        lock.unlock();
        consumeAsCurrent(item.task); // its captures go before the lock is taken again
        lock.lock();
    }
    held_ = false;
}

void SerialQueue::release()
{
    std::lock_guard lock(mutex_);
    if (items_.empty())
        held_ = false;
    else
        DispatchPool::shared().post([self = shared_from_this()] { self->drain(); });
}
