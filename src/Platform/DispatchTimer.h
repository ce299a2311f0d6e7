#pragma once

#include "Platform/DispatchQueue.h"

#include <cstdint>
#include <functional>
#include <memory>

// A one-shot or repeating timer whose handler runs on a DispatchQueue, on that queue's clock (the main
// queue's timers follow the main loop's clock, virtual in tests). Every method is safe from any thread.
// The handler never runs twice at once, even on the concurrent global queue.
class DispatchTimer {
public:
    using Clock = DispatchQueue::Clock;

    DispatchTimer(std::shared_ptr<DispatchQueue> queue, std::function<void()> handler);
    // Cancels; a handler may destroy its own timer.
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    // Fires after `delay`, then every `interval` if that is non-zero, counted from the scheduled times so
    // a repeating timer does not drift; firings missed by a late queue are coalesced into one. Starting
    // a started timer replaces its schedule.
    void start(Clock::duration delay, Clock::duration interval = Clock::duration::zero());
    // Once this returns, no firing that has not begun will begin; a handler already running on another
    // thread finishes. The timer can be started again.
    void cancel();

private:
    struct State;
    // Below, the state's mutex is held.
    static void withdraw(State& state);
    static void arm(const std::shared_ptr<State>& state, uint64_t generation, Clock::duration delay);
    static void fire(const std::weak_ptr<State>& weakState, uint64_t generation);

    std::shared_ptr<State> state_;
};
