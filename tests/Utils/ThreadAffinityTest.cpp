#include "Utils/ThreadAffinity.h"

#include <gtest/gtest.h>

#include <thread>

TEST(ThreadAffinity, TheFirstCallerKeepsItAndOthersAreRefused)
{
#ifdef NDEBUG
    GTEST_SKIP() << "release builds keep no thread";
#else
    ThreadAffinity affinity;
    EXPECT_TRUE(affinity.holds());
    EXPECT_TRUE(affinity.holds());
    bool other = true;
    std::thread([&] { other = affinity.holds(); }).join();
    EXPECT_FALSE(other);
#endif
}
