#include "Platform/DispatchPool.h"

#include <asio.hpp>
#include <pthread.h>

#include <algorithm>
#include <thread>
#include <utility>

struct DispatchPool::Impl {
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(context);
    size_t threadCount = 0;
};

DispatchPool& DispatchPool::shared()
{
    static DispatchPool* const pool = new DispatchPool; // never destroyed, see the header
    return *pool;
}

DispatchPool::DispatchPool() : impl_(std::make_unique<Impl>())
{
    // Tasks may block for a while (a 0.5 s discovery poll, a child process, a sync() on a busy queue)
    // and one task holds its thread for the life of the process, so the pool is sized well above the
    // core count for CPU work still to find free threads.
    impl_->threadCount = std::max<size_t>(8, 2 * static_cast<size_t>(std::thread::hardware_concurrency()));
    for (size_t i = 0; i < impl_->threadCount; ++i) {
        std::thread([context = &impl_->context] {
            pthread_setname_np(pthread_self(), "dispatch");
            context->run();
        }).detach();
    }
}

DispatchPool::~DispatchPool() = default;

asio::io_context& DispatchPool::context()
{
    return impl_->context;
}

size_t DispatchPool::threadCount() const
{
    return impl_->threadCount;
}

void DispatchPool::post(Task task)
{
    asio::post(impl_->context, std::move(task));
}

void DispatchPool::after(std::chrono::steady_clock::duration delay, Task task)
{
    auto timer = std::make_shared<asio::steady_timer>(impl_->context, delay);
    timer->async_wait([timer, task = std::move(task)](const asio::error_code&) { task(); });
}
