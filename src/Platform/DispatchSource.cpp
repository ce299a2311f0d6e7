#include "Platform/DispatchSource.h"

#include "Platform/DispatchReactor.h"
#include "Utils/Log.h"

#include <sys/epoll.h>

#include <cerrno>
#include <mutex>
#include <utility>

// At most one step is in flight at a time, so the event handler never runs twice at once and the cancel
// handler can follow the last call: Idle, armed in the reactor, or a call queued or running.
struct DispatchSource::State final : DispatchReactor::Client, std::enable_shared_from_this<State> {
    enum class Step { Idle, Waiting, Calling };

    State(int watchedFd, std::shared_ptr<DispatchQueue> targetQueue, Handler onEvent, Handler onCancel)
        : fd(watchedFd), queue(std::move(targetQueue)), eventHandler(std::move(onEvent)), cancelHandler(std::move(onCancel))
    {
    }

    // On the reactor's thread.
    void becameReady() override;
    // On the queue.
    void deliver();
    // Below, the mutex is held on entry.
    void wait();
    void call();
    void finish();

    const int fd;
    const std::shared_ptr<DispatchQueue> queue;

    std::mutex mutex;
    // The reactor's key for this source; 0 for a descriptor epoll cannot watch (a regular file),
    // which is always ready.
    uint64_t key = 0;
    Handler eventHandler;
    Handler cancelHandler;
    Step step = Step::Idle;
    bool resumed = false;
    bool cancelled = false;
};

void DispatchSource::State::wait()
{
    if (key == 0) {
        call();
        return;
    }
    step = Step::Waiting;
    DispatchReactor::shared().arm(fd, key);
}

void DispatchSource::State::call()
{
    step = Step::Calling;
    queue->async([self = shared_from_this()] { self->deliver(); });
}

void DispatchSource::State::becameReady()
{
    std::lock_guard lock(mutex);
    if (step != Step::Waiting)
        return;
    if (cancelled) {
        step = Step::Idle;
        finish();
    } else if (resumed) {
        call();
    } else {
        step = Step::Idle;
    }
}

void DispatchSource::State::deliver()
{
    {
        std::lock_guard lock(mutex);
        if (cancelled || !resumed) {
            step = Step::Idle;
            if (cancelled)
                finish();
            return;
        }
    }
    // The reactor's word is trusted: no second look at the descriptor. A call may still find it drained
    // by an earlier task on the queue, which a non-blocking read or write meets as EAGAIN.
    if (eventHandler)
        eventHandler();
    std::lock_guard lock(mutex);
    step = Step::Idle;
    if (cancelled)
        finish();
    else if (resumed)
        wait();
}

void DispatchSource::State::finish()
{
    if (key != 0)
        DispatchReactor::shared().detach(fd, std::exchange(key, 0));
    eventHandler = nullptr; // its captures often hold the source's owner
    if (cancelHandler)
        queue->async(std::exchange(cancelHandler, nullptr));
}

std::unique_ptr<DispatchSource> DispatchSource::create(int fd, Kind kind, std::shared_ptr<DispatchQueue> queue,
                                                       Handler eventHandler, Handler cancelHandler)
{
    auto state = std::make_shared<State>(fd, std::move(queue), std::move(eventHandler), std::move(cancelHandler));
    state->key = DispatchReactor::shared().attach(fd, kind == Kind::Read ? EPOLLIN : EPOLLOUT, state);
    if (state->key == 0 && errno != EPERM) {
        PLOG_ERRNO("dispatch source: cannot watch fd %d", fd);
        return nullptr;
    }
    return std::unique_ptr<DispatchSource>(new DispatchSource(std::move(state)));
}

DispatchSource::DispatchSource(std::shared_ptr<State> state) : state_(std::move(state)) {}

DispatchSource::~DispatchSource()
{
    cancel();
}

void DispatchSource::resume()
{
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled || state_->resumed)
        return;
    state_->resumed = true;
    if (state_->step == State::Step::Idle)
        state_->wait();
}

void DispatchSource::suspend()
{
    std::lock_guard lock(state_->mutex);
    state_->resumed = false;
}

void DispatchSource::cancel()
{
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled)
        return;
    state_->cancelled = true;
    state_->resumed = false;
    // A source the reactor has already told goes on to becameReady(), which finishes it.
    if (state_->step == State::Step::Idle ||
        (state_->step == State::Step::Waiting && DispatchReactor::shared().disarm(state_->fd, state_->key))) {
        state_->step = State::Step::Idle;
        state_->finish();
    }
}

int DispatchSource::fd() const
{
    return state_->fd;
}
