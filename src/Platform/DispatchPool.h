#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace asio {
class io_context;
}

// The threads behind every queue but the main one: one Asio io_context run by a fixed set of threads.
// It lives for the whole process and is never torn down, since some tasks run for the life of the
// process and may still run while static objects are destroyed at exit.
class DispatchPool {
public:
    using Task = std::function<void()>;

    static DispatchPool& shared();

    asio::io_context& context();
    size_t threadCount() const;

    // Runs the task on some pool thread. Any thread.
    void post(Task task);
    // Runs the task on some pool thread once the delay has passed. Any thread.
    void after(std::chrono::steady_clock::duration delay, Task task);

private:
    DispatchPool();
    ~DispatchPool();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
