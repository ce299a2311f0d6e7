#include "Platform/DescriptorLimit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

TEST(DescriptorLimitTest, TheSoftLimitRisesToTheHardOne)
{
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    if (original.rlim_max < 128)
        GTEST_SKIP() << "a hard limit of " << original.rlim_max << " leaves nothing to raise";
    rlimit lowered = original;
    lowered.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    EXPECT_EQ(DescriptorLimit::raiseToHardLimit(), original.rlim_max);
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    EXPECT_EQ(now.rlim_cur, original.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &original);
}

} // namespace
