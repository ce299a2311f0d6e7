#include "Platform/FixedWidthQueue.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"

#include <pthread.h>

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

struct FixedWidthQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;  // under mutex
    bool stopping = false;   // under mutex
    std::vector<std::thread> threads;
};

std::shared_ptr<FixedWidthQueue> FixedWidthQueue::create(std::string label, size_t width)
{
    return std::shared_ptr<FixedWidthQueue>(new FixedWidthQueue(std::move(label), width));
}

std::shared_ptr<FixedWidthQueue> FixedWidthQueue::blockingCalls()
{
    // Never destroyed: a call may still run while static objects are torn down at exit.
    static const auto* const queue = new std::shared_ptr<FixedWidthQueue>(create("blocking", 2));
    return *queue;
}

FixedWidthQueue::FixedWidthQueue(std::string label, size_t width)
    : DispatchQueue(std::move(label)), state_(std::make_unique<State>())
{
    for (size_t i = 0; i < std::max<size_t>(width, 1); ++i)
        state_->threads.emplace_back([this] { work(); });
}

FixedWidthQueue::~FixedWidthQueue()
{
    // A thread of the queue cannot wait for itself to end.
    assert(!isCurrent() && "a FixedWidthQueue is never released on its own threads");
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    for (std::thread& thread : state_->threads)
        thread.join();
}

size_t FixedWidthQueue::width() const
{
    return state_->threads.size();
}

void FixedWidthQueue::work()
{
    // Thread names hold at most 15 bytes.
    pthread_setname_np(pthread_self(), label().substr(0, 15).c_str());
    std::unique_lock lock(state_->mutex);
    for (;;) {
        state_->wake.wait(lock, [this] { return !state_->tasks.empty() || state_->stopping; });
        if (state_->tasks.empty())
            return;
        Task task = std::move(state_->tasks.front());
        state_->tasks.pop_front();
        lock.unlock();
        consumeAsCurrent(task); // its captures go before the lock is taken again
        lock.lock();
    }
}

void FixedWidthQueue::async(Task task)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}

void FixedWidthQueue::sync(const Task& task)
{
    if (isCurrent()) {
        runAsCurrent(task);
        return;
    }
    assert(ThreadRole::mayWait() && "a hand-off thread never waits for a queue");
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
    async([&] {
        task();
        std::lock_guard lock(mutex);
        done = true;
        ran.notify_one();
    });
    const DispatchPool::BlockingScope blocking;
    std::unique_lock lock(mutex);
    ran.wait(lock, [&done] { return done; });
}

void FixedWidthQueue::asyncAfter(Clock::duration delay, Task task)
{
    asyncAfterCancellable(delay, std::move(task));
}

std::shared_ptr<DispatchQueue::DelayedTask> FixedWidthQueue::asyncAfterCancellable(Clock::duration delay, Task task)
{
    // The pool's timer hands the task over once due; a queue released meanwhile drops it.
    return DispatchPool::shared().after(delay, [weak = weak_from_this(), task = std::move(task)]() mutable {
        if (const auto self = weak.lock())
            self->async(std::move(task));
    });
}

bool FixedWidthQueue::isCurrent() const
{
    return markedCurrent();
}
