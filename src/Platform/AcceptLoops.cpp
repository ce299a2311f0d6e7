#include "Platform/AcceptLoops.h"

#include "Utils/InsideCall.h"
#include "Utils/Log.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The tag of the wake-up descriptor in every set; a listening descriptor's tag is its index.
constexpr uint64_t kWakeTag = UINT64_MAX;

}  // namespace

struct AcceptLoops::State {
    Ready ready;
    std::function<void()> stopped;
    // Written once, at stop, and never read: it stays readable, so every loop in epoll_wait wakes.
    int wake = -1;
    std::mutex mutex;
    std::condition_variable changed;
    // Changed under mutex; read without it on each wake, so busy loops do not contend for it.
    std::atomic<bool> accepting{false};
    std::atomic<bool> stopping{false};
    // Under mutex.
    size_t running = 0;
    bool finished = false;  // the last loop has ended and run `stopped`

    ~State()
    {
        if (wake >= 0)
            ::close(wake);
    }
};

std::unique_ptr<AcceptLoops> AcceptLoops::start(const std::vector<int>& descriptors, size_t loops, const std::string& name, Ready ready,
    std::function<void()> stopped)
{
    auto state = std::make_shared<State>();
    state->ready = std::move(ready);
    state->stopped = std::move(stopped);
    state->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->wake < 0)
        return nullptr;
    // Made before any thread starts, so a failure leaves nothing running.
    std::vector<int> sets;
    const auto fail = [&sets] {
        const int code = errno;
        for (const int set : sets)
            ::close(set);
        errno = code;
        return nullptr;
    };
    for (size_t loop = 0; loop < loops; ++loop) {
        const int set = ::epoll_create1(EPOLL_CLOEXEC);
        if (set < 0)
            return fail();
        sets.push_back(set);
        for (size_t index = 0; index <= descriptors.size(); ++index) {
            const bool isWake = index == descriptors.size();
            epoll_event event{};
            event.events = isWake ? EPOLLIN : EPOLLIN | EPOLLEXCLUSIVE;
            event.data.u64 = isWake ? kWakeTag : index;
            if (::epoll_ctl(set, EPOLL_CTL_ADD, isWake ? state->wake : descriptors[index], &event) != 0)
                return fail();
        }
    }
    for (const int set : sets) {
        {
            const std::lock_guard lock(state->mutex);
            ++state->running;
        }
        try {
            std::thread([state, set, name] {
                pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
                run(state, set);
            }).detach();
        } catch (const std::system_error& error) {
            PLOG_ERROR("%s: cannot start an accept loop: %s", name.c_str(), error.what());
            const std::lock_guard lock(state->mutex);
            --state->running;
            ::close(set);
        }
    }
    {
        const std::lock_guard lock(state->mutex);
        if (state->running == 0) {
            // Nothing to stop: the descriptors stay the caller's.
            state->stopping = true;
            state->finished = true;
            errno = EAGAIN;
            return nullptr;
        }
    }
    return std::unique_ptr<AcceptLoops>(new AcceptLoops(std::move(state)));
}

AcceptLoops::AcceptLoops(std::shared_ptr<State> state) : state_(std::move(state)) {}

AcceptLoops::~AcceptLoops() { stop(); }

void AcceptLoops::setAccepting(bool accepting)
{
    const std::lock_guard lock(state_->mutex);
    state_->accepting = accepting;
    if (accepting)
        state_->changed.notify_all();
}

void AcceptLoops::stop()
{
    std::unique_lock lock(state_->mutex);
    if (!state_->stopping) {
        state_->stopping = true;
        const uint64_t one = 1;
        if (::write(state_->wake, &one, sizeof(one)) != sizeof(one))
            PLOG_ERRNO("accept loops: cannot wake the loops");
        state_->changed.notify_all();
    }
    if (!InsideCall<State>::of(state_.get()))
        state_->changed.wait(lock, [this] { return state_->finished; });
}

void AcceptLoops::run(const std::shared_ptr<State>& state, int epoll)
{
    constexpr int kEvents = 8;
    for (;;) {
        if (!state->accepting || state->stopping) {
            std::unique_lock lock(state->mutex);
            state->changed.wait(lock, [&state] { return state->stopping || state->accepting; });
            if (state->stopping)
                break;
        }
        epoll_event events[kEvents];
        const int count = ::epoll_wait(epoll, events, kEvents, -1);
        if (count < 0 && errno != EINTR) {
            PLOG_ERRNO("accept loops: epoll_wait");
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 == kWakeTag)
                continue;
            const InsideCall<State> inside(state.get());
            state->ready(size_t(events[i].data.u64));
        }
    }
    ::close(epoll);
    std::unique_lock lock(state->mutex);
    if (--state->running > 0)
        return;
    lock.unlock();
    state->stopped();
    lock.lock();
    state->finished = true;
    state->changed.notify_all();
}
