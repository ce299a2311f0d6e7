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
    // The queue's wait for the next firing, withdrawn on cancel() and restart so that a long wait
    // does not hold its timer and captures until its old deadline.
    std::shared_ptr<DispatchQueue::DelayedTask> pending;
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
    std::lock_guard lock(state_->mutex);
    withdraw(*state_);
    state_->interval = interval;
    state_->deadline = state_->queue->now() + delay;
    arm(state_, state_->generation, delay);
}

void DispatchTimer::cancel()
{
    std::lock_guard lock(state_->mutex);
    withdraw(*state_);
}

void DispatchTimer::withdraw(State& state)
{
    ++state.generation;
    state.deferred = false;
    if (state.pending)
        std::exchange(state.pending, nullptr)->cancel();
}

void DispatchTimer::arm(const std::shared_ptr<State>& state, uint64_t generation, Clock::duration delay)
{
    // The pending firing holds the timer weakly: a destroyed timer leaves nothing alive behind it.
    std::weak_ptr<State> weakState = state;
    state->pending = state->queue->asyncAfterCancellable(delay, [weakState, generation] { fire(weakState, generation); });
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
        state->pending = nullptr; // it is this firing
        if (state->running) {
            state->deferred = true;
            state->deferredGeneration = generation;
            return;
        }
        state->running = true;
    }

    state->handler();

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
        arm(state, generation, std::max(Clock::duration::zero(), state->deadline - now));
    }
}
