#include "Update/UpdateArchive.h"
#include "Update/UpdateOffer.h"
#include "Update/UpdateRestart.h"
#include "Update/UpdateVersion.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

TEST(UpdateVersionTest, DigitRunsCompareAsNumbers)
{
    EXPECT_TRUE(UpdateVersion::isNewer("1.10", "1.9"));
    EXPECT_FALSE(UpdateVersion::isNewer("1.9", "1.10"));
    EXPECT_FALSE(UpdateVersion::isNewer("1.10", "1.10"));
    EXPECT_TRUE(UpdateVersion::isNewer("10", "9"));
    EXPECT_EQ(UpdateVersion::compare("1.02", "1.2"), 0) << "leading zeros do not count";
    EXPECT_TRUE(UpdateVersion::isNewer("1.2.1", "1.2"));
    EXPECT_TRUE(UpdateVersion::isNewer("2.0b", "2.0a"));
    EXPECT_TRUE(UpdateVersion::isNewer("99999999999999999999999", "9999999999999999999999")) << "no overflow";
}

TEST(UpdateOfferTest, OnlyAnHttpsURLWithAHostMakesAnOffer)
{
    EXPECT_TRUE(UpdateOffer::fromAnswer(R"({"version":"2.0","url":"https://example.invalid/a.zip"})"));
    EXPECT_TRUE(UpdateOffer::fromAnswer(R"({"version":"2.0","url":"HTTPS://example.invalid/a.zip"})"));
    for (const char* answer : {R"({"version":"2.0","url":"http://example.invalid/a.zip"})",
                               R"({"version":"2.0","url":"file:///etc/passwd"})",
                               R"({"version":"2.0","url":"https:///a.zip"})",
                               R"({"version":"2.0","url":"https://a b/a.zip"})",
                               R"({"version":2,"url":"https://example.invalid/a.zip"})",
                               R"({"version":"","url":"https://example.invalid/a.zip"})",
                               R"({"version":"2.0"})", R"(["2.0"])", "not json", ""}) {
        EXPECT_FALSE(UpdateOffer::fromAnswer(answer)) << answer;
    }
    EXPECT_EQ(UpdateOffer::queryURL("updates.example", 8502, "/mirovan/getversion"),
              "https://updates.example:8502/mirovan/getversion?app_id=ps&apptype=mac");
}

TEST(UpdateArchiveTest, EntriesThatLeaveTheFolderAreRefused)
{
    EXPECT_TRUE(UpdateArchive::staysInside("Pelkor.app/bin/pelkor"));
    EXPECT_TRUE(UpdateArchive::staysInside("Pelkor.app/..data"));
    for (const char* name : {"../x", "Pelkor.app/../../x", "/etc/passwd", "a/..", "..\\x", ""})
        EXPECT_FALSE(UpdateArchive::staysInside(name)) << name;
}

// The paths carry spaces and shell characters; run by argv they stay single arguments, and nothing
// they spell is ever executed.
TEST(UpdateRestartTest, CopiesThenStartsByArgvWithoutAShell)
{
    TempDir temp;
    const fs::path newApp = temp / "new; touch injected" / "Pelkor.app";
    const fs::path installation = temp / "installed $(touch injected)";
    const fs::path marker = temp / "started";
    fs::create_directories(newApp / "bin");
    fs::create_directories(installation / "bin");
    const fs::path script = newApp / "bin" / "pelkor";
    std::ofstream(script) << "#!/bin/sh\necho \"$0\" > '" << marker.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);

    const auto commands = UpdateRestart::commands(newApp, installation, "pelkor");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], (UpdateRestart::Command{"cp", "-R", "--", (newApp / ".").string(), installation.string()}));
    EXPECT_EQ(commands[1], UpdateRestart::Command{(installation / "bin" / "pelkor").string()});

    ASSERT_TRUE(UpdateRestart::run(commands));
    EXPECT_TRUE(fs::exists(installation / "bin" / "pelkor"));
    for (int i = 0; i < 200 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(marker)) << "the installed executable was started";
    EXPECT_FALSE(fs::exists(temp / "injected"));
    EXPECT_FALSE(fs::exists("injected"));

    EXPECT_FALSE(UpdateRestart::run(UpdateRestart::commands(temp / "absent", installation, "pelkor")))
        << "a failed copy starts nothing";
}

} // namespace
