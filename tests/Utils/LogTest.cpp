#include "Utils/Log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Each line: the local time to the millisecond, the level, the origin (the source file and line; the
// transport's text prefixed) and the text.
TEST(Log, LinesCarryTimeLevelSourceFileLineAndPrefixes)
{
    CaptureStdout();
    const int line = __LINE__ + 1;
    PLOG("value %d of %s", 7, "seven");
    NQLOG("send list %s", "full");
    PLOG_WARNING("disk %d%% full", 95);
    errno = ECONNREFUSED;
    NQLOG_ERRNO("connect %s", "127.0.0.1");
    const int errnoAfter = errno;
    const std::string out = GetCapturedStdout();

    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    const auto head = [&](const char* level, int at) {
        return stamp + level + " PTC\\[LogTest\\.cpp\xE2\x80\x94>" + std::to_string(at) + "\\]: ";
    };
    const std::regex expected(head("INFO", line) + "value 7 of seven\n" + head("INFO", line + 1) +
                              "NQ send list full\n" + head("WARNING", line + 2) + "disk 95% full\n" +
                              head("ERROR", line + 4) + "NQ connect 127\\.0\\.0\\.1: Connection refused\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
    EXPECT_EQ(errnoAfter, ECONNREFUSED);
    // The HTTP server's lines take the same form with its own origin; a level out of range is an error.
    EXPECT_TRUE(std::regex_match(Log::line(9, "HttpServer", "stopped"), std::regex(stamp + "ERROR HttpServer: stopped\n")));
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
