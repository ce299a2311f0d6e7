#pragma once

#include "Platform/MainLoop.h"

#include <deque>
#include <map>
#include <optional>

// The pending work of a main loop: tasks ready to run and tasks waiting for their deadline.
// Not locked: the loop that owns it guards it.
class LoopTaskQueue {
public:
    using Task = MainLoop::Task;
    using Clock = MainLoop::Clock;

    void post(Task task);
    void postAt(Clock::time_point deadline, Task task);

    // The next task to run at `now`. Tasks whose deadline has come join the ready ones first, in
    // deadline order (posting order among equal deadlines).
    std::optional<Task> takeNext(Clock::time_point now);
    bool hasDue(Clock::time_point now) const;
    std::optional<Clock::time_point> nextDeadline() const;

private:
    std::deque<Task> ready_;
    std::multimap<Clock::time_point, Task> delayed_;
};
