#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// A queue of tasks: the one model of concurrency every subsystem uses. Serial queues, the global
// (concurrent) queue and the main queue look alike to their callers, to timers and to fd sources.
// Tasks must not throw: as on the platform, an exception leaving a task on a pool thread ends the process.
class DispatchQueue {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    virtual ~DispatchQueue() = default;
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Runs the task on the queue later and returns at once. Any thread.
    virtual void async(Task task) = 0;
    // Runs the task on the queue and waits until it has run. From the queue itself it runs inline.
    virtual void sync(const Task& task) = 0;
    // Runs the task on the queue once `delay` has passed on the queue's clock. It cannot be withdrawn;
    // DispatchTimer can.
    virtual void asyncAfter(Clock::duration delay, Task task) = 0;

    // A delayed task that can be withdrawn: once cancel() returns it will not begin, and it has let
    // go of its captures. Safe from any thread, any number of times.
    class DelayedTask {
    public:
        virtual ~DelayedTask() = default;
        virtual void cancel() = 0;
    };
    // asyncAfter() that can be withdrawn. By default a withdrawn task leaves a small stub in the queue
    // until its deadline; the pool's queues free their timer at once.
    virtual std::shared_ptr<DelayedTask> asyncAfterCancellable(Clock::duration delay, Task task);
    // True while the calling thread runs on this queue, so it may touch what the queue guards.
    virtual bool isCurrent() const = 0;
    // The queue's clock: real for the pool's queues, the main loop's (virtual in tests) for the main queue.
    virtual Clock::time_point now() const;

    const std::string& label() const { return label_; }

protected:
    explicit DispatchQueue(std::string label);
    // Runs a task with this queue marked as current on the calling thread.
    void runAsCurrent(const Task& task) const;
    // The same, then drops the task while the mark still stands: its captures may hold the last
    // reference to something that uses this queue as it goes, which then runs inline instead of
    // waiting for the queue this task holds.
    void consumeAsCurrent(Task& task) const;
    // True while runAsCurrent of this queue is on the calling thread's stack.
    bool markedCurrent() const;

private:
    std::string label_;
};
