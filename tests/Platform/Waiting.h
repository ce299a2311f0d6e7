#pragma once

#include <chrono>
#include <future>

// Waits for work done on other threads. The limit only keeps a broken build from hanging the test
// run; it never judges speed.
template <class Future>
bool finishes(const Future& future)
{
    return future.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}
