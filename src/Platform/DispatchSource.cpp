#include "Platform/DispatchSource.h"

#include "Platform/DispatchPool.h"
#include "Utils/Log.h"

#include <asio.hpp>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <utility>

// At most one step is in flight at a time, so the event handler never runs twice at once and the cancel
// handler can follow the last call: Idle, a readiness wait in the reactor, or a call queued or running.
struct DispatchSource::State : std::enable_shared_from_this<State> {
    enum class Step { Idle, Waiting, Calling };

    State(int callerFd, int duplicateFd, Kind sourceKind, std::shared_ptr<DispatchQueue> targetQueue, Handler onEvent,
          Handler onCancel)
        : fd(callerFd), duplicate(duplicateFd), kind(sourceKind), queue(std::move(targetQueue)),
          eventHandler(std::move(onEvent)), cancelHandler(std::move(onCancel)), watched(DispatchPool::shared().context())
    {
    }

    bool ready() const;
    // Below, the mutex is held on entry.
    void schedule();
    void finish();
    // On the pool and on the queue; they take the mutex.
    void onWait(const asio::error_code& error);
    void deliver();

    const int fd;
    // A close-on-exec duplicate of fd: the reactor registers it (so a read and a write source may share
    // one descriptor) and closing it never touches the caller's.
    const int duplicate;
    const Kind kind;
    const std::shared_ptr<DispatchQueue> queue;

    std::mutex mutex;
    Handler eventHandler;
    Handler cancelHandler;
    // Owns `duplicate` once assigned.
    asio::posix::stream_descriptor watched;
    Step step = Step::Idle;
    bool resumed = false;
    bool cancelled = false;
};

bool DispatchSource::State::ready() const
{
    pollfd entry{duplicate, static_cast<short>(kind == Kind::Read ? POLLIN : POLLOUT), 0};
    // Hang-ups and errors count as ready: the handler's read or write meets them.
    return ::poll(&entry, 1, 0) > 0;
}

void DispatchSource::State::schedule()
{
    if (ready()) {
        step = Step::Calling;
        queue->async([self = shared_from_this()] { self->deliver(); });
        return;
    }
    step = Step::Waiting;
    const auto waitType = kind == Kind::Read ? asio::posix::stream_descriptor::wait_read
                                             : asio::posix::stream_descriptor::wait_write;
    watched.async_wait(waitType, [self = shared_from_this()](const asio::error_code& error) { self->onWait(error); });
    // The reactor is edge-triggered: readiness that came between the look above and the wait's
    // registration raises no new edge. Look again now that the wait is registered, and end it early.
    if (ready()) {
        asio::error_code ignored;
        watched.cancel(ignored);
    }
}

void DispatchSource::State::onWait(const asio::error_code& error)
{
    std::lock_guard lock(mutex);
    step = Step::Idle;
    if (cancelled) {
        finish();
    } else if (error && error != asio::error::operation_aborted) {
        PLOG("dispatch source on fd %d stops: %s", fd, error.message().c_str());
    } else if (resumed) {
        schedule();
    }
}

void DispatchSource::State::deliver()
{
    {
        std::lock_guard lock(mutex);
        if (cancelled) {
            step = Step::Idle;
            finish();
            return;
        }
        if (!resumed) {
            step = Step::Idle;
            return;
        }
        if (!ready()) {
            // An earlier task on the queue consumed the readiness: wait for more.
            step = Step::Idle;
            schedule();
            return;
        }
    }
    if (eventHandler)
        eventHandler();
    std::lock_guard lock(mutex);
    step = Step::Idle;
    if (cancelled)
        finish();
    else if (resumed)
        schedule();
}

void DispatchSource::State::finish()
{
    asio::error_code ignored;
    watched.close(ignored);
    eventHandler = nullptr; // its captures often hold the source's owner
    if (cancelHandler)
        queue->async(std::exchange(cancelHandler, nullptr));
}

std::unique_ptr<DispatchSource> DispatchSource::create(int fd, Kind kind, std::shared_ptr<DispatchQueue> queue,
                                                       Handler eventHandler, Handler cancelHandler)
{
    // Never below 3: standard input, output and error stay what they are.
    const int duplicate = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (duplicate < 0) {
        PLOG_ERRNO("dispatch source: cannot duplicate fd %d", fd);
        return nullptr;
    }
    auto state = std::make_shared<State>(fd, duplicate, kind, std::move(queue), std::move(eventHandler),
                                         std::move(cancelHandler));
    asio::error_code error;
    state->watched.assign(duplicate, error);
    if (error) {
        PLOG("dispatch source: cannot watch fd %d: %s", fd, error.message().c_str());
        ::close(duplicate);
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
        state_->schedule();
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
    if (state_->step == State::Step::Idle) {
        state_->finish();
    } else if (state_->step == State::Step::Waiting) {
        asio::error_code ignored;
        state_->watched.cancel(ignored);
    }
}

int DispatchSource::fd() const
{
    return state_->fd;
}
