#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

// Threading contracts are asserted in debug builds only. Their death tests start threads, so the
// child re-runs the binary rather than forking a copy of a threaded process.
#ifdef NDEBUG
#define SKIP_WITHOUT_ASSERTIONS() GTEST_SKIP() << "assertions are off in this build"
#else
#define SKIP_WITHOUT_ASSERTIONS() GTEST_FLAG_SET(death_test_style, "threadsafe")
#endif

// Keeps a doomed statement alive while another thread dies; returns if it never does.
inline void awaitDeath(std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    std::this_thread::sleep_for(limit);
}
