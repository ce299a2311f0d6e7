#include "App/AppDelegate.h"

#include "Media/SoundPreferences.h"
#include "Platform/PulseMemoryDevices.h"
#include "App/AppShellView.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using Kind = PulseDevice::Kind;

// Records what the delegate asks of the desktop, one line per call; the main window's creation runs
// the session's audio routing, as a cast with sound then does.
class RecordingShell final : public AppShellView {
public:
    std::vector<std::string> calls;

    void installStatusItem(const std::string& quitTitle) override { calls.push_back("statusItem " + quitTitle); }
    void showMainWindow(SessionServices services) override
    {
        calls.push_back("mainWindow");
        if (services.routeAudioToLoopback)
            services.routeAudioToLoopback();
    }
    void showPermissionsWindow(const Permissions&) override { calls.push_back("permissionsWindow"); }
    void activate() override { calls.push_back("activate"); }
    void terminate() override { calls.push_back("terminate"); }
};

// A computer whose permissions, drivers and sound devices each test sets: by default everything is
// in place, and the sound goes to its USB speakers and microphone.
class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegateTest()
    {
        sound->addDevice({Kind::Sink, 1, "usb-speakers", "USB Speakers", false});
        sound->addDevice({Kind::Source, 2, "usb-microphone", "USB Microphone", false});
        sound->addDevice({Kind::Sink, 5, "ROZI-Audio", "ROZI-Audio", false});
        sound->addDevice({Kind::Source, 7, "ROZI-Audio2ch_UID", "ROZI-Audio", false});
        sound->setDefaultDevice(Kind::Sink, "usb-speakers");
        sound->setDefaultDevice(Kind::Source, "usb-microphone");
    }

    std::unique_ptr<AppDelegate> launch()
    {
        AppDelegate::Services services;
        services.drivers = std::make_shared<CheckVirtualDrivers>(
            CheckVirtualDrivers::Folders{folder / "installed", folder / "resources"}, true);
        services.drivers->setHasSpeaker(speaker);
        services.drivers->setHasMicrophone(true);
        services.drivers->setHasCamera(camera);
        Permissions::Probes probes;
        probes.environment = [](const char* name) -> std::optional<std::string> {
            return std::string(name) == "DISPLAY" ? std::optional<std::string>(":5") : std::nullopt;
        };
        probes.openDisplay = [this](const std::string&) {
            return std::optional(Permissions::Probes::DisplayTraits{xtest});
        };
        probes.soundServer = [this]() -> std::unique_ptr<PulseDevices> {
            auto server = std::make_unique<PulseMemoryDevices>();
            if (microphone)
                server->addDevice({Kind::Source, 2, "usb-microphone", "USB Microphone", false});
            return server;
        };
        services.permissions = Permissions(std::move(probes));
        services.clearSharedFolder = [this] { shell.calls.push_back("clear"); };
        services.resetPermissionGrants = [this] { shell.calls.push_back("resetGrants"); };
        services.restoreAudioDevices = [this] { preferences.restoreMacAudioDevices(); };
        services.repairAudioDevices = [this] {
            shell.calls.push_back("repair");
            preferences.repairUnrestoredDevices();
        };
        services.session.routeAudioToLoopback = [this] { preferences.useAudioDeviceForInputAndOutput("ROZI-Audio"); };
        services.executableName = "pelkor";
        services.runInBackground = [this](std::function<void()>) { shell.calls.push_back("installInBackground"); };
        auto delegate = std::make_unique<AppDelegate>(shell, std::move(services));
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    std::optional<std::string> defaultDevice(Kind kind) { return sound->defaultDevice(kind); }

    TempDir folder;
    RecordingShell shell;
    std::shared_ptr<PulseMemoryDevices> sound = std::make_shared<PulseMemoryDevices>();
    SoundDeviceRecord record{folder / "state" / "sound-devices"};
    SoundPreferences preferences{sound, nullptr, record};
    bool xtest = true;
    bool microphone = true;
    bool speaker = true;
    bool camera = true;
};

TEST_F(AppDelegateTest, WithEverythingInPlaceTheMainWindowShows)
{
    const auto delegate = launch();
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"repair", "clear", "statusItem Quit pelkor", "mainWindow", "activate"}));
    EXPECT_TRUE(delegate->showsMainWindow());
    EXPECT_EQ(defaultDevice(Kind::Sink), "ROZI-Audio");
}

TEST_F(AppDelegateTest, AMissingDriverInstallsInTheBackgroundWithoutResettingGrants)
{
    camera = false;
    const auto delegate = launch();
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"repair", "clear", "statusItem Quit pelkor", "installInBackground",
                                                     "permissionsWindow", "activate"}));
    EXPECT_FALSE(delegate->showsMainWindow());
    EXPECT_EQ(defaultDevice(Kind::Sink), "usb-speakers") << "no sound routing in such a run";
}

TEST_F(AppDelegateTest, AMissingPermissionResetsTheGrantsEvenWithAMissingDriver)
{
    const std::vector<std::pair<std::string, bool*>> permissions{{"microphone", &microphone}, {"input posting", &xtest}};
    for (const auto& [what, granted] : permissions) {
        SCOPED_TRACE(what);
        shell.calls.clear();
        *granted = false;
        speaker = false;
        const auto delegate = launch();
        EXPECT_EQ(shell.calls, (std::vector<std::string>{"repair", "clear", "statusItem Quit pelkor", "resetGrants",
                                                         "installInBackground", "permissionsWindow", "activate"}));
        *granted = true;
        speaker = true;
    }
}

// The quit entry, a termination signal and the last window's close all put the sound devices back
// as they were before the switch (not onto devices picked by name) and empty the shared folder.
TEST_F(AppDelegateTest, EveryEndRestoresTheDevicesThisRunSwitched)
{
    const std::vector<std::pair<std::string, std::function<void(AppDelegate&)>>> ends{
        {"quit entry", [](AppDelegate& delegate) { delegate.quitPelkor(); }},
        {"SIGTERM", [](AppDelegate& delegate) { delegate.terminationSignal(SIGTERM); }},
        {"SIGINT", [](AppDelegate& delegate) { delegate.terminationSignal(SIGINT); }},
        {"last window", [](AppDelegate& delegate) { EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed()); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        const auto delegate = launch();
        ASSERT_EQ(defaultDevice(Kind::Source), "ROZI-Audio2ch_UID");
        shell.calls.clear();
        end(*delegate);
        EXPECT_EQ(defaultDevice(Kind::Sink), "usb-speakers");
        EXPECT_EQ(defaultDevice(Kind::Source), "usb-microphone");
        EXPECT_EQ(shell.calls.front(), "clear");
        EXPECT_FALSE(record.load()) << "nothing is left to repair";
        EXPECT_EQ(shell.calls.back(), name == "last window" ? "clear" : "terminate");
        delegate->applicationWillTerminate();
        EXPECT_EQ(shell.calls.back(), "clear");
    }
}

TEST_F(AppDelegateTest, ARunThatNeverSwitchedLeavesTheUsersDevicesAlone)
{
    camera = false;
    const auto delegate = launch();
    // The user picks the loopback device by hand meanwhile; quitting does not undo that choice.
    sound->setDefaultDevice(Kind::Sink, "ROZI-Audio");
    preferences.useAudioDeviceForInputAndOutput("ROZI-Audio");
    shell.calls.clear();
    delegate->quitPelkor();
    EXPECT_EQ(defaultDevice(Kind::Sink), "ROZI-Audio");
    EXPECT_EQ(shell.calls, (std::vector<std::string>{"clear", "terminate"}));
}

// A run killed while switched leaves its record; the next launch puts the user's devices back before
// anything else, and leaves nothing to repair after it.
TEST_F(AppDelegateTest, ALaunchRepairsTheDevicesAKilledRunLeftSwitched)
{
    {
        SoundPreferences killedRun{sound, nullptr, record};
        killedRun.useAudioDeviceForInputAndOutput("ROZI-Audio");
    }
    ASSERT_EQ(defaultDevice(Kind::Sink), "ROZI-Audio");
    camera = false;
    const auto delegate = launch();
    EXPECT_EQ(shell.calls.front(), "repair");
    EXPECT_EQ(defaultDevice(Kind::Sink), "usb-speakers");
    EXPECT_EQ(defaultDevice(Kind::Source), "usb-microphone");
    EXPECT_FALSE(record.load());
}

} // namespace
