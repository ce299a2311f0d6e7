#include "App/SingletonApp.h"

#include "App/LaunchChannel.h"
#include "Platform/MainLoopFixture.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>

namespace {

// Each test leaves the process without the lock, as it found it.
class SingletonAppTest : public ::testing::Test {
protected:
    void TearDown() override { SingletonApp::unsingletonApp(); }

    // The lock as another copy of the application holds it: an open file of its own, locked.
    int holdAsAnotherCopy() const
    {
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        return fd;
    }

    TempDir folder;
    const std::filesystem::path lockFile = folder / "pelkor.lock";
};

TEST_F(SingletonAppTest, OneCopyHoldsTheLockUntilItLetsGo)
{
    const int other = holdAsAnotherCopy();
    EXPECT_FALSE(SingletonApp::cansingletonApp(lockFile));
    EXPECT_EQ(SingletonApp::lockDescriptor(), -1);
    ::close(other);

    const mode_t previousMask = ::umask(0);
    EXPECT_TRUE(SingletonApp::cansingletonApp(lockFile));
    ::umask(previousMask);
    EXPECT_TRUE(SingletonApp::cansingletonApp(lockFile)) << "asking again while holding it";
    struct stat info = {};
    ASSERT_EQ(::stat(lockFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the user's own, whatever the creation mask";
    const int held = SingletonApp::lockDescriptor();
    EXPECT_NE(::fcntl(held, F_GETFD) & FD_CLOEXEC, 0) << "no child inherits the lock";

    SingletonApp::unsingletonApp();
    EXPECT_EQ(SingletonApp::lockDescriptor(), -1);
    EXPECT_EQ(::fcntl(held, F_GETFD), -1) << "the descriptor is closed";
    ::close(holdAsAnotherCopy());
}

TEST_F(SingletonAppTest, ALockFileThatIsALinkIsNotFollowed)
{
    const auto target = folder / "elsewhere";
    std::filesystem::create_symlink(target, lockFile);
    EXPECT_FALSE(SingletonApp::cansingletonApp(lockFile));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(SingletonApp::lockDescriptor(), -1);
}

TEST_F(SingletonAppTest, DescriptorZeroHoldsTheLockLikeAnyOther)
{
    const int savedInput = ::dup(STDIN_FILENO);
    ASSERT_GE(savedInput, 0);
    ::close(STDIN_FILENO);
    const bool taken = SingletonApp::cansingletonApp(lockFile);
    const int descriptor = SingletonApp::lockDescriptor();
    EXPECT_TRUE(taken);
    EXPECT_EQ(descriptor, 0);
    const int other = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "descriptor 0 really holds it";
    ::close(other);
    SingletonApp::unsingletonApp();
    EXPECT_EQ(SingletonApp::lockDescriptor(), -1);
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
}

TEST_F(SingletonAppTest, TheLockLivesInTheUsersRuntimeFolderElseItsCaches)
{
    {
        const ScopedEnv runtime("XDG_RUNTIME_DIR", folder.path().string());
        EXPECT_EQ(SingletonApp::lockFilePath(), folder / "pelkor.lock");
    }
    const ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    const ScopedEnv caches("XDG_CACHE_HOME", (folder / "cache").string());
    EXPECT_EQ(SingletonApp::lockFilePath(), folder / "cache" / "pelkor" / "pelkor.lock");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "cache" / "pelkor"));
    const ScopedEnv relativeRuntime("XDG_RUNTIME_DIR", "run");
    EXPECT_EQ(SingletonApp::lockFilePath(), folder / "cache" / "pelkor" / "pelkor.lock");
}

// A later copy's request reaches the running copy's channel; the channel is the user's own and takes
// the place of nothing but an old socket.
class LaunchChannelTest : public MainLoopFixture {
protected:
    TempDir folder;
    const std::filesystem::path path = folder / LaunchChannel::kSocketName;
};

TEST_F(LaunchChannelTest, ALaterLaunchAsksTheRunningCopyForItsWindow)
{
    EXPECT_FALSE(LaunchChannel::tell(path)) << "no copy listens yet";
    int launches = 0;
    {
        const auto channel = LaunchChannel::listen(path, MainQueue::shared(), [&] { ++launches; });
        ASSERT_NE(channel, nullptr);
        struct stat info = {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_TRUE(LaunchChannel::tell(path));
        EXPECT_TRUE(loop->runUntil([&] { return launches == 1; }));
    }
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket goes with the channel";

    // The socket a run that was killed left behind is replaced; anything else is not.
    const int killed = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(killed, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(killed);
    EXPECT_NE(LaunchChannel::listen(path, MainQueue::shared(), [] {}), nullptr);
    std::ofstream(path) << "not a socket";
    EXPECT_EQ(LaunchChannel::listen(path, MainQueue::shared(), [] {}), nullptr);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

} // namespace
