#include "Platform/DispatchQueue.h"

#include "Platform/DispatchPool.h"
#include "Utils/Log.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The queues whose tasks the calling thread is running, innermost last. More than one when a task
// of one queue calls sync() on another: the outer queue is still held by this thread.
thread_local std::vector<const DispatchQueue*> tRunning;

#ifndef NDEBUG
// Debug builds: a task that holds a pool worker this long is heavy or blocking work, which belongs on
// a queue of its own (FixedWidthQueue). Said once the task ends.
constexpr auto kLongPoolTask = std::chrono::milliseconds(100);

class PoolTaskWatch {
public:
    // Only the outermost task of a pool worker: one that a task runs inline (sync) is part of it.
    explicit PoolTaskWatch(const DispatchQueue* queue)
        : queue_(tRunning.empty() && DispatchPool::isWorkerThread() ? queue : nullptr),
          start_(std::chrono::steady_clock::now())
    {
    }
    ~PoolTaskWatch()
    {
        if (!queue_)
            return;
        const auto took = std::chrono::steady_clock::now() - start_;
        if (took > kLongPoolTask)
            PLOG("a task of %s held a pool worker for %lld ms: heavy or blocking work belongs on a queue of its own",
                 queue_->label().c_str(),
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
    PoolTaskWatch(const PoolTaskWatch&) = delete;
    PoolTaskWatch& operator=(const PoolTaskWatch&) = delete;

private:
    const DispatchQueue* const queue_;
    const std::chrono::steady_clock::time_point start_;
};
#else
struct PoolTaskWatch {
    explicit PoolTaskWatch(const DispatchQueue*) {}
};
#endif

struct RunningMark {
    explicit RunningMark(const DispatchQueue* queue) : watch(queue) { tRunning.push_back(queue); }
    ~RunningMark() { tRunning.pop_back(); }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

    PoolTaskWatch watch;
};

// The task sits in a holder the queue's pending closure shares: cancelling empties the holder.
class HeldTask final : public DispatchQueue::DelayedTask {
public:
    explicit HeldTask(DispatchQueue::Task task) : task_(std::move(task)) {}

    void cancel() override { take(); }
    DispatchQueue::Task take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(task_, nullptr);
    }

private:
    std::mutex mutex_;
    DispatchQueue::Task task_;
};

} // namespace

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)) {}

DispatchQueue::Clock::time_point DispatchQueue::now() const
{
    return Clock::now();
}

void DispatchQueue::runAsCurrent(const Task& task) const
{
    RunningMark mark(this);
    task();
}

void DispatchQueue::consumeAsCurrent(Task& task) const
{
    RunningMark mark(this);
    task();
    task = nullptr;
}

bool DispatchQueue::markedCurrent() const
{
    return std::find(tRunning.begin(), tRunning.end(), this) != tRunning.end();
}

std::shared_ptr<DispatchQueue::DelayedTask> DispatchQueue::asyncAfterCancellable(Clock::duration delay, Task task)
{
    auto held = std::make_shared<HeldTask>(std::move(task));
    asyncAfter(delay, [held] {
        if (const Task due = held->take())
            due();
    });
    return held;
}
