#include "ChildProcess.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// The built program on the offscreen platform, in a network namespace of its own (its file server and
// anything it sends stay there), with the user's folders in a private temporary folder and no sound
// server, so it launches with the permissions window.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto outcome = Shell::run({"unshare", "-n", "true"});
        if (!outcome || outcome->exitCode != 0)
            GTEST_SKIP() << "network namespaces are not permitted here (unshare -n failed)";
        fs::create_directories(home / "run");
        fs::permissions(home / "run", fs::perms::owner_all);
    }

    std::vector<std::string> command(bool ownNetwork) const
    {
        std::vector<std::string> argv;
        if (ownNetwork)
            argv = {"unshare", "-n"};
        const std::vector<std::string> rest{
            "env", "QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=",
            "XDG_RUNTIME_DIR=" + (home / "run").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
            "XDG_DATA_HOME=" + (home / "data").string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
            "HOME=" + home.path().string(), "PULSE_SERVER=unix:" + (home / "no-sound-server").string(), PELKOR_PATH};
        argv.insert(argv.end(), rest.begin(), rest.end());
        return argv;
    }

    // Starts the program and waits until it has launched.
    void launch(ChildProcess& program)
    {
        ASSERT_TRUE(program.running());
        while (const auto line = program.line()) {
            if (line->find("launched with the permissions window") != std::string::npos)
                return;
        }
        FAIL() << "the program did not launch";
    }

    // A file offered to the TV, as the shared folder holds it.
    fs::path shareAFile() const
    {
        const fs::path file = home / "cache" / "pelkor" / "server" / "fileshare" / "offered";
        std::ofstream(file) << "bytes";
        return file;
    }

    TempDir home;
};

TEST_F(ProgramTest, ASecondLaunchEndsAtOnceAndRaisesTheFirst)
{
    ChildProcess first(command(true));
    launch(first);
    const fs::path offered = shareAFile();
    ASSERT_TRUE(fs::exists(offered));

    ChildProcess second(command(false));
    EXPECT_EQ(second.rest(), "") << "no window, no message, no log line";
    EXPECT_EQ(second.wait(), 0);
    bool asked = false;
    while (const auto line = first.line())
        if ((asked = line->find("a later launch asks for the window") != std::string::npos))
            break;
    EXPECT_TRUE(asked) << "the first copy heard the second";
    EXPECT_TRUE(fs::exists(offered)) << "the second copy emptied nothing";
    EXPECT_EQ(::kill(first.pid(), 0), 0) << "the first copy runs on";
    EXPECT_EQ((fs::status(home / "run" / "pelkor.lock").permissions() & fs::perms::all), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(first.stop(SIGTERM), 0);
}

TEST_F(ProgramTest, InterruptAndTerminateTakeTheQuitRoad)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        ChildProcess program(command(true));
        launch(program);
        const fs::path offered = shareAFile();
        EXPECT_EQ(program.stop(signal), 0);
        EXPECT_FALSE(fs::exists(offered)) << "the shared folder is emptied on the way out";
    }
}

} // namespace
