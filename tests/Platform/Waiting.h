#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <thread>

// Waits for work done on other threads. The limit only keeps a broken build from hanging the test
// run; it never judges speed.
template <class Future>
bool finishes(const Future& future)
{
    return future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

// Waits for a condition that other threads make true, with the same limit.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
