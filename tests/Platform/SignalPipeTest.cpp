#include "Platform/SignalPipe.h"

#include <gtest/gtest.h>

#include <poll.h>

namespace {

bool readable(int fd)
{
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, 0) == 1;
}

TEST(SignalPipe, SignalsBecomeBytesAndTheOldHandlersComeBack)
{
    struct sigaction before = {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        SignalPipe pipe({SIGINT, SIGTERM});
        ASSERT_TRUE(pipe.valid());
        EXPECT_FALSE(readable(pipe.readFd()));
        EXPECT_TRUE(pipe.takeSignals().empty()) << "nothing yet, and no wait for it";

        ASSERT_EQ(::raise(SIGTERM), 0);
        ASSERT_EQ(::raise(SIGINT), 0);
        EXPECT_TRUE(readable(pipe.readFd()));
        EXPECT_EQ(pipe.takeSignals(), (std::vector<int>{SIGTERM, SIGINT}));
        EXPECT_FALSE(readable(pipe.readFd()));
    }
    struct sigaction after = {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

} // namespace
