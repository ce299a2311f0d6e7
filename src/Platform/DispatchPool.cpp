#include "Platform/DispatchPool.h"

#include "Platform/ThreadRole.h"

#include <asio.hpp>
#include <pthread.h>

#include <algorithm>
#include <cassert>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// A bound on growth, so a task that blocks without end cannot make threads without end.
constexpr size_t kMaximumWorkers = 512;

thread_local bool onWorker = false;

class TimedTask final : public DispatchQueue::DelayedTask {
public:
    TimedTask(asio::io_context& context, std::chrono::steady_clock::duration delay) : timer(context, delay) {}

    void cancel() override
    {
        // The timer itself is not safe against concurrent cancels; its wait is, against one.
        if (!cancelled_.exchange(true))
            timer.cancel();
    }

    asio::steady_timer timer;

private:
    std::atomic<bool> cancelled_{false};
};

}  // namespace

struct DispatchPool::Impl {
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(context);

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;  // below, all under mutex
    size_t workers = 0;
    size_t sleeping = 0;
    // Sleepers signalled and not yet up: a post wakes one only when they can't cover the queue, so a
    // burst of tasks never wakes a herd of threads that then find nothing to do.
    size_t waking = 0;
    size_t blocked = 0;
};

DispatchPool& DispatchPool::shared()
{
    static DispatchPool* const pool = new DispatchPool; // never destroyed, see the header
    return *pool;
}

DispatchPool::DispatchPool() : impl_(std::make_unique<Impl>())
{
    // Asio makes its timer reactor (three descriptors) with the first timer: made now, so a timer
    // armed later, when descriptors may have run out, can't throw inside the pool.
    asio::steady_timer{impl_->context};
    std::thread([context = &impl_->context] {
        pthread_setname_np(pthread_self(), "dispatch.io");
        ThreadRole::set(ThreadRole::Role::HandOff);
        context->run();
    }).detach();
    // Tasks may block for a while (a 0.5 s discovery poll, a child process), so there are workers
    // to spare beyond the core count.
    const size_t initial = std::max<size_t>(8, 2 * static_cast<size_t>(std::thread::hardware_concurrency()));
    std::lock_guard lock(impl_->mutex);
    for (size_t i = 0; i < initial; ++i)
        startWorker();
}

DispatchPool::~DispatchPool() = default;

// Under the mutex.
void DispatchPool::startWorker()
{
    ++impl_->workers;
    std::thread([this] {
        pthread_setname_np(pthread_self(), "dispatch");
        onWorker = true;
        work();
    }).detach();
}

void DispatchPool::work()
{
    Impl& impl = *impl_;
    std::unique_lock lock(impl.mutex);
    for (;;) {
        while (impl.tasks.empty()) {
            ++impl.sleeping;
            impl.wake.wait(lock);
            --impl.sleeping;
            if (impl.waking > 0)
                --impl.waking;
        }
        Task task = std::move(impl.tasks.front());
        impl.tasks.pop_front();
        lock.unlock();
        task();
        task = nullptr; // its captures go before the lock is taken again
        lock.lock();
    }
}

bool DispatchPool::isWorkerThread()
{
    return onWorker;
}

asio::io_context& DispatchPool::context()
{
    return impl_->context;
}

size_t DispatchPool::threadCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->workers;
}

DispatchPool::BlockingScope::BlockingScope() : counted_(onWorker)
{
    assert(ThreadRole::mayWait() && "a hand-off thread never waits for a task");
    if (!counted_)
        return;
    Impl& impl = *shared().impl_;
    std::lock_guard lock(impl.mutex);
    if (++impl.blocked >= impl.workers && impl.workers < kMaximumWorkers)
        shared().startWorker();
}

DispatchPool::BlockingScope::~BlockingScope()
{
    if (!counted_)
        return;
    Impl& impl = *shared().impl_;
    std::lock_guard lock(impl.mutex);
    --impl.blocked;
}

void DispatchPool::post(Task task)
{
    Impl& impl = *impl_;
    bool wake = false;
    {
        std::lock_guard lock(impl.mutex);
        impl.tasks.push_back(std::move(task));
        if (impl.waking < impl.sleeping && impl.waking < impl.tasks.size()) {
            ++impl.waking;
            wake = true;
        }
    }
    // Signalled outside the lock, so the woken thread does not wake only to wait for the mutex.
    if (wake)
        impl.wake.notify_one();
}

std::shared_ptr<DispatchQueue::DelayedTask> DispatchPool::after(std::chrono::steady_clock::duration delay, Task task)
{
    auto delayed = std::make_shared<TimedTask>(impl_->context, delay);
    // Cancelling completes the wait at once with an error, which lets go of the task there and then.
    delayed->timer.async_wait([this, delayed, task = std::move(task)](const asio::error_code& error) mutable {
        if (!error)
            post(std::move(task));
    });
    return delayed;
}
