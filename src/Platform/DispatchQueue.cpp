#include "Platform/DispatchQueue.h"

#include <algorithm>
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

bool DispatchQueue::markedCurrent() const
{
    return std::find(tRunning.begin(), tRunning.end(), this) != tRunning.end();
}
