#include "Platform/DispatchTimer.h"

#include <mutex>
#include <utility>

struct DispatchTimer::State {
    State(std::shared_ptr<DispatchQueue> q, std::function<void()> h) : queue(std::move(q)), handler(std::move(h)) {}

    const std::shared_ptr<DispatchQueue> queue;
    const std::function<void()> handler;

    std::mutex mutex;
    // Each start() and cancel() makes a new generation; a firing of an older one does nothing.
    uint64_t generation = 0;
    Clock::duration interval{};
    Clock::time_point deadline;
    bool running = false;
    // A firing that came while the handler was running, to be run when it returns.
    bool deferred = false;
    uint64_t deferredGeneration = 0;
};

DispatchTimer::DispatchTimer(std::shared_ptr<DispatchQueue> queue, std::function<void()> handler)
    : state_(std::make_shared<State>(std::move(queue), std::move(handler)))
{
}

DispatchTimer::~DispatchTimer()
{
    cancel();
}

void DispatchTimer::start(Clock::duration delay, Clock::duration interval)
{
    uint64_t generation = 0;
    {
        std::lock_guard lock(state_->mutex);
        generation = ++state_->generation;
        state_->interval = interval;
        state_->deadline = state_->queue->now() + delay;
    }
    arm(state_, generation, delay);
}

void DispatchTimer::cancel()
{
    std::lock_guard lock(state_->mutex);
    ++state_->generation;
    state_->deferred = false;
}

void DispatchTimer::arm(const std::shared_ptr<State>& state, uint64_t generation, Clock::duration delay)
{
    // The pending firing holds the timer weakly: a destroyed timer leaves nothing alive behind it.
    std::weak_ptr<State> weakState = state;
    state->queue->asyncAfter(delay, [weakState, generation] { fire(weakState, generation); });
}

void DispatchTimer::fire(const std::weak_ptr<State>& weakState, uint64_t generation)
{
    // Held strongly while the handler runs, which may destroy the DispatchTimer.
    const std::shared_ptr<State> state = weakState.lock();
    if (!state)
        return;
    {
        std::lock_guard lock(state->mutex);
        if (state->generation != generation)
            return;
        if (state->running) {
            state->deferred = true;
            state->deferredGeneration = generation;
            return;
        }
        state->running = true;
    }

    state->handler();

    Clock::duration delay{};
    {
        std::lock_guard lock(state->mutex);
        state->running = false;
        if (state->deferred) {
            state->deferred = false;
            state->queue->async([weakState, later = state->deferredGeneration] { fire(weakState, later); });
        }
        if (state->generation != generation || state->interval == Clock::duration::zero())
            return;
        const Clock::time_point now = state->queue->now();
        state->deadline += state->interval;
        if (state->deadline < now)
            state->deadline += (now - state->deadline) / state->interval * state->interval;
        delay = std::max(Clock::duration::zero(), state->deadline - now);
    }
    arm(state, generation, delay);
}
