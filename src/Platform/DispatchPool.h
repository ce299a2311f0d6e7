#pragma once

#include "Platform/DispatchQueue.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace asio {
class io_context;
}

// The threads behind every queue but the main one. Tasks run on a set of worker threads that grows
// when every one of them waits on another task (see BlockingScope). Descriptor readiness and timers
// are watched by one Asio io_context on a thread of its own, which hands what fires to the workers.
// It lives for the whole process and is never torn down, since some tasks run for the life of the
// process and may still run while static objects are destroyed at exit.
class DispatchPool {
public:
    using Task = std::function<void()>;

    static DispatchPool& shared();

    // The reactor: handlers of waits registered on it run on its own thread and must only hand off.
    asio::io_context& context();
    size_t threadCount() const;

    // Marks a worker as waiting for another task to run, as a sync() on a busy serial queue does.
    // When every worker waits so, one more starts: the task they wait for may still be queued behind
    // them and would otherwise never find a thread. Does nothing off the workers.
    class BlockingScope {
    public:
        BlockingScope();
        ~BlockingScope();
        BlockingScope(const BlockingScope&) = delete;
        BlockingScope& operator=(const BlockingScope&) = delete;

    private:
        const bool counted_;
    };

    // Whether the calling thread is one of the workers.
    static bool isWorkerThread();

    // Runs the task on some worker. Any thread.
    void post(Task task);
    // Runs the task on some worker once the delay has passed, unless withdrawn first. Any thread.
    std::shared_ptr<DispatchQueue::DelayedTask> after(std::chrono::steady_clock::duration delay, Task task);

private:
    DispatchPool();
    ~DispatchPool();
    void startWorker();
    void work();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
