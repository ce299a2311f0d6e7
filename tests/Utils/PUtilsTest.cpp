#include "Utils/PUtils.h"

#include "Utils/ContractDeathTest.h"
#include "Utils/Log.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <functional>
#include <regex>
#include <thread>

namespace fs = std::filesystem;

TEST(PUtils, BigEndianStoresTouchOnlyTheirBytesAndRefuseWhatDoesNotFit)
{
    constexpr uint8_t U = 0xAA;
    std::vector<uint8_t> bytes(8, U);
    EXPECT_TRUE(PUtils::intToBytes(0x12345678, bytes, 2));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{U, U, 0x12, 0x34, 0x56, 0x78, U, U}));
    bytes.assign(10, U);
    EXPECT_TRUE(PUtils::longToBytes(-2, bytes, 0));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, U, U}));

    bytes.assign(8, U);
    for (const int offset : {5, 8, -1, INT32_MAX})
        EXPECT_FALSE(PUtils::intToBytes(1, bytes, offset)) << offset;
    EXPECT_FALSE(PUtils::longToBytes(1, bytes, 1));
    EXPECT_FALSE(PUtils::longToBytes(1, std::span<uint8_t>(bytes).first(7), 0));
    EXPECT_FALSE(PUtils::intToBytes(1, {}, 0));
    EXPECT_EQ(bytes, std::vector<uint8_t>(8, U));
    EXPECT_TRUE(PUtils::intToBytes(-2, bytes, 4));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{U, U, U, U, 0xFF, 0xFF, 0xFF, 0xFE}));
}

TEST(PUtils, IPv4TextsAreFourDecimalOctetsAndNothingElse)
{
    for (const char* good : {"192.168.1.10", "0.0.0.0", "255.255.255.255", "010.1.1.1", "001.002.003.004", "9.99.199.249"})
        EXPECT_TRUE(PUtils::isValidIPAddress(good)) << good;
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n", "", "1..2.3",
                            "1.2.3.", ".1.2.3", "0001.1.1.1", "1.2.3.260", "1.2.3.-4", "1.2.3.a", "+1.2.3.4",
                            "0x1.2.3.4", "1,2,3,4"})
        EXPECT_FALSE(PUtils::isValidIPAddress(bad)) << '"' << bad << '"';
    EXPECT_FALSE(PUtils::isValidIPAddress(std::string_view("1.2.3.4\0", 8)));

    // Every octet is decimal, leading zeros or not.
    EXPECT_EQ(PUtils::parseIPv4("010.1.001.255")->s_addr, htonl(0x0A0101FF));
    EXPECT_FALSE(PUtils::parseIPv4("256.0.0.1"));
}

TEST(PUtils, JsonTextAndValue)
{
    for (const std::string& bad : {std::string(""), std::string("{\"a\":"), std::string("[1,2] trailing"),
                                   std::string("\"\xFF\""), std::string(100000, '[')})
        EXPECT_FALSE(PUtils::convertJsonString2Dict(bad)) << bad.substr(0, 20);
    EXPECT_EQ(PUtils::convertJsonString2Dict(" {\"name\":\"TV\",\"n\":3} "), (nlohmann::json{{"name", "TV"}, {"n", 3}}));

    const nlohmann::json value = {{"version", "1.2"}, {"list", {1, 2}}};
    const auto text = PUtils::convertDict2JsonString(value);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find('\n'), std::string::npos);
    EXPECT_EQ(PUtils::convertJsonString2Dict(*text), value);
    EXPECT_FALSE(PUtils::convertDict2JsonString(nlohmann::json{{"bad", "\xC3"}}));
}

TEST(PUtils, CurrentTimeIsLocalTimeInTheFixedPattern)
{
    // One hour east of UTC, no tz database needed.
    {
        ScopedEnv zone("TZ", "XYZ-1");
        tzset();
        std::tm utc{};
        utc.tm_year = 2025 - 1900;
        utc.tm_mon = 1;
        utc.tm_mday = 3;
        utc.tm_hour = 8;
        utc.tm_min = 5;
        utc.tm_sec = 7;
        const auto when = std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::milliseconds(999);
        EXPECT_EQ(PUtils::getCurrentTime(when), "2025-02-03 09:05:07");
    }
    tzset();
}

TEST(PUtils, RandomBytesAndTheHostAddress)
{
    const auto key = PUtils::genRandomWithByteLen(32);
    const auto other = PUtils::genRandomWithByteLen(32);
    ASSERT_TRUE(key && other);
    EXPECT_EQ(key->size(), 32u);
    EXPECT_NE(*key, *other);
    EXPECT_EQ(PUtils::genRandomWithByteLen(0)->size(), 0u);

    // Any IPv4 host has at least the loopback address.
    const auto address = PUtils::getIPAddress();
    ASSERT_TRUE(address);
    EXPECT_TRUE(PUtils::isValidIPAddress(*address)) << *address;
}

// logRedirect swaps the process's standard output, so each case runs in a child process.
class LogRedirect : public ::testing::Test {
protected:
    // Runs body in a forked child with standard output on the capture file; the child's exit code.
    int inChild(const std::function<int()>& body)
    {
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
                _exit(100);
            ::close(fd);
            _exit(body());
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    // 0 when fd 1 is open on /dev/null.
    static int stdoutIsDevNull()
    {
        struct stat out {};
        struct stat null {};
        if (::fstat(STDOUT_FILENO, &out) != 0 || ::stat("/dev/null", &null) != 0)
            return 10;
        return S_ISCHR(out.st_mode) && out.st_rdev == null.st_rdev ? 0 : 11;
    }

    TempDir dir;
    fs::path capture = dir / "stdout.txt";
    // The program's own state folder, not the user's downloads.
    fs::path logFile = dir / "state" / "pelkor" / "pelkor.log";
    ScopedEnv state{"XDG_STATE_HOME", (dir / "state").string()};
    ScopedEnv home{"HOME", (dir / "home").string()};

    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";
    const std::regex openLine{"================log open time " + stamp + "================\n"};
    const std::regex closeLine{"================log close time " + stamp + "================\n\n\n"};
};

TEST_F(LogRedirect, OnAppendsToTheFileAndOffClosesItAndKeepsFdOneOnDevNull)
{
    fs::create_directories(logFile.parent_path());
    writeFile(logFile, "earlier\n");
    EXPECT_EQ(PUtils::logFilePath(), logFile);
    EXPECT_EQ(inChild([] {
                  PUtils::logRedirect(true);
                  PLOG("line %d", 7);
                  PUtils::logRedirect(false);
                  PLOG("after off");
                  return stdoutIsDevNull();
              }),
              0);
    const std::string log = readFile(logFile);
    std::smatch open;
    ASSERT_TRUE(std::regex_search(log, open, openLine)) << log;
    EXPECT_EQ(open.prefix(), "earlier\n");
    std::smatch close;
    ASSERT_TRUE(std::regex_search(log, close, closeLine)) << log;
    EXPECT_EQ(close.suffix(), "");
    EXPECT_NE(log.find("]: line 7\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("after off"), std::string::npos);
    EXPECT_EQ(readFile(capture), "");
}

TEST_F(LogRedirect, OffBeforeAnyOnWritesTheCloseLineToTheOriginalOutput)
{
    EXPECT_EQ(inChild([] {
                  PUtils::logRedirect(false);
                  return stdoutIsDevNull();
              }),
              0);
    EXPECT_TRUE(std::regex_match(readFile(capture), closeLine)) << readFile(capture);
    EXPECT_FALSE(fs::exists(logFile));
}

TEST_F(LogRedirect, OnWithoutAUsableFolderLeavesStandardOutputAlone)
{
    writeFile(dir / "blocker", "");
    ScopedEnv blocked("XDG_STATE_HOME", (dir / "blocker").string());
    EXPECT_EQ(inChild([] {
                  PUtils::logRedirect(true);
                  PLOG("still here");
                  return 0;
              }),
              0);
    const std::string out = readFile(capture);
    EXPECT_NE(out.find("cannot make folder"), std::string::npos) << out;
    EXPECT_NE(out.find("still here"), std::string::npos) << out;
    EXPECT_EQ(out.find("log open time"), std::string::npos) << out;
}

TEST(PUtilsDeathTest, TheLogIsRedirectedOnTheMainThreadOnly)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(std::thread([] { PUtils::logRedirect(false); }).join(), "runs on the main thread");
}
