#pragma once

#include "Platform/DispatchQueue.h"

#include <cstddef>
#include <memory>
#include <string>

// A labelled queue with threads of its own, a fixed number of them (its width): its tasks start in
// the order they were submitted, at most `width` at a time. Heavy or blocking work (file copies,
// discovery's reads) runs here instead of holding the shared pool's workers, which serve short tasks
// only. Width 1 is a serial queue on one thread of its own. The threads carry the label as their name.
class FixedWidthQueue final : public DispatchQueue, public std::enable_shared_from_this<FixedWidthQueue> {
public:
    static std::shared_ptr<FixedWidthQueue> create(std::string label, size_t width);
    // The process's queue "blocking" for occasional calls that may wait long (name look-ups, a child
    // process): two at a time, so one slow call does not hold up the next. Never destroyed.
    static std::shared_ptr<FixedWidthQueue> blockingCalls();
    // Runs the tasks still queued, then ends the threads. Never on one of them (asserted).
    ~FixedWidthQueue() override;

    void async(Task task) override;
    // From the queue itself the task runs inline; otherwise it waits for its turn like any task.
    void sync(const Task& task) override;
    void asyncAfter(Clock::duration delay, Task task) override;
    std::shared_ptr<DelayedTask> asyncAfterCancellable(Clock::duration delay, Task task) override;
    bool isCurrent() const override;

    size_t width() const;

private:
    struct State;

    FixedWidthQueue(std::string label, size_t width);
    void work();

    std::unique_ptr<State> state_;
};
