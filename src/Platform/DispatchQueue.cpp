#include "Platform/DispatchQueue.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The queues whose tasks the calling thread is running, innermost last. More than one when a task
// of one queue calls sync() on another: the outer queue is still held by this thread.
thread_local std::vector<const DispatchQueue*> tRunning;

struct RunningMark {
    explicit RunningMark(const DispatchQueue* queue) { tRunning.push_back(queue); }
    ~RunningMark() { tRunning.pop_back(); }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;
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
