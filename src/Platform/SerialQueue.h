#pragma once

#include "Platform/DispatchQueue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

// A labelled queue that runs its tasks one at a time, in the order they were submitted, on the
// threads of the DispatchPool. A sync() from outside runs the task on the caller's own thread once the
// queue's earlier tasks are done, as the platform does, so waiting callers never need a free pool
// thread to make progress.
class SerialQueue final : public DispatchQueue, public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create(std::string label);

    void async(Task task) override;
    void sync(const Task& task) override;
    // Runs the task at once on the calling thread, as sync() would, when no thread holds the queue (so
    // nothing waits in it either); otherwise returns false without running it. Never waits, so even a
    // thread that must not wait may call it. From the queue itself it is always false.
    bool runIfIdle(const Task& task);
    void asyncAfter(Clock::duration delay, Task task) override;
    std::shared_ptr<DelayedTask> asyncAfterCancellable(Clock::duration delay, Task task) override;
    bool isCurrent() const override;

private:
    // A task, or (with `granted` set) a sync() caller waiting for its turn to hold the queue.
    struct Item {
        Task task;
        bool* granted = nullptr;
    };

    explicit SerialQueue(std::string label);
    // Runs queued tasks on a pool thread until the queue is empty or handed to a sync() caller.
    void drain();
    // Gives up the queue after a sync() caller's task: pending tasks go on in the pool.
    void release();

    std::mutex mutex_;
    std::condition_variable handedOver_;
    std::deque<Item> items_;
    // Some thread holds the queue: a drain on the pool or a sync() caller. Queued items imply it.
    bool held_ = false;
};
