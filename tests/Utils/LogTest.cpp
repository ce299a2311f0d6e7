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

TEST(Log, ALineLongerThanTheCapIsCutAtACharacterAndSaysHowMuchWent)
{
    // A two-byte character straddles the cap.
    const std::string text = std::string(Log::kMaxTextLength - 1, 'a') + "\xC3\xA9" + std::string(10'000, 'b');
    CaptureStdout();
    PLOG("%s", text.c_str());
    const std::string out = GetCapturedStdout();
    const std::string tail = "... [10002 more bytes not logged]\n";
    ASSERT_GT(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_NE(out.find(std::string(Log::kMaxTextLength - 1, 'a') + "..."), std::string::npos);
    EXPECT_LT(out.size(), Log::kMaxTextLength + 100);
}
