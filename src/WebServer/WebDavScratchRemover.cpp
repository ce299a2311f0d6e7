#include "WebServer/WebDavScratchRemover.h"

#include "WebServer/WebDavFileOperations.h"

#include <pthread.h>

WebDavScratchRemover::WebDavScratchRemover(int folder) : folder_(folder), worker_([this] { run(); }) {}

WebDavScratchRemover::~WebDavScratchRemover()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void WebDavScratchRemover::remove(std::string name)
{
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(name));
    }
    changed_.notify_all();
}

void WebDavScratchRemover::waitUntilIdle()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (queue_.empty() && !busy_) || stopping_; });
}

void WebDavScratchRemover::run()
{
    pthread_setname_np(pthread_self(), "dav.cleanup");
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (stopping_)
            return;
        const std::string name = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        WebDavFileOperations::removeItem({folder_, name}, nullptr);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
