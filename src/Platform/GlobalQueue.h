#pragma once

#include "Platform/DispatchQueue.h"

#include <memory>
#include <string>

// The global concurrent queue: tasks run in parallel on the threads of the DispatchPool.
class GlobalQueue final : public DispatchQueue {
public:
    // The platform's priorities; all of them share the one pool, only the label differs.
    enum class Priority { Default, High };

    // The queue of the priority, alive for the whole process.
    static std::shared_ptr<GlobalQueue> shared(Priority priority = Priority::Default);

    void async(Task task) override;
    // Runs the task on the calling thread: a concurrent queue has nothing to wait for.
    void sync(const Task& task) override;
    void asyncAfter(Clock::duration delay, Task task) override;
    std::shared_ptr<DelayedTask> asyncAfterCancellable(Clock::duration delay, Task task) override;
    bool isCurrent() const override;

private:
    explicit GlobalQueue(std::string label);
};
