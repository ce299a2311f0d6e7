#include "Utils/Log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(Log, LinesCarrySourceFileLineAndPrefixes)
{
    CaptureStdout();
    const int line = __LINE__ + 1;
    PLOG("value %d of %s", 7, "seven");
    NQLOG("send list %s", "full");
    errno = ECONNREFUSED;
    NQLOG_ERRNO("connect %s", "127.0.0.1");
    const int errnoAfter = errno;
    const std::string out = GetCapturedStdout();

    const std::string head = "PTC[LogTest.cpp\xE2\x80\x94>";
    EXPECT_EQ(out, head + std::to_string(line) + "]: value 7 of seven\n" + head + std::to_string(line + 1) +
                       "]: NQ send list full\n" + head + std::to_string(line + 3) +
                       "]: NQ connect 127.0.0.1: Connection refused\n");
    EXPECT_EQ(errnoAfter, ECONNREFUSED);
}
