#include "Platform/Permissions.h"

#include "Platform/PulseMemoryDevices.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using DisplayTraits = Permissions::Probes::DisplayTraits;

// A desktop session as the checks see it: its environment, the X displays that answer, its sound
// server.
class PermissionsTest : public testing::Test {
protected:
    Permissions permissions()
    {
        Permissions::Probes probes;
        probes.environment = [this](const char* name) -> std::optional<std::string> {
            const auto found = environment.find(name);
            return found != environment.end() ? std::optional<std::string>(found->second) : std::nullopt;
        };
        probes.openDisplay = [this](const std::string& name) -> std::optional<DisplayTraits> {
            opened.push_back(name);
            const auto found = displays.find(name);
            return found != displays.end() ? std::optional<DisplayTraits>(found->second) : std::nullopt;
        };
        probes.soundServer = [this]() -> std::unique_ptr<PulseDevices> {
            if (!soundServerRuns) {
                return nullptr;
            }
            auto server = std::make_unique<PulseMemoryDevices>();
            for (const PulseDevice& device : soundDevices) {
                server->addDevice(device);
            }
            server->failAll(soundServerFails);
            return server;
        };
        probes.waylandGrant = [this](PortalGrants::Grant grant, bool ask) {
            portalCalls.push_back(std::string(ask ? "ask " : "granted? ") +
                                  (grant == PortalGrants::Grant::kScreen ? "screen" : "input"));
            if (ask)
                (grant == PortalGrants::Grant::kScreen ? screenGranted : inputGranted) = true;
            return grant == PortalGrants::Grant::kScreen ? screenGranted : inputGranted;
        };
        return Permissions(std::move(probes));
    }

    std::map<std::string, std::string> environment{{"DISPLAY", ":5"}, {"XDG_SESSION_TYPE", "x11"}};
    std::map<std::string, DisplayTraits> displays{{":5", DisplayTraits{true}}};
    std::vector<std::string> opened;
    // The Wayland session's portal grants, and what was asked of them.
    bool screenGranted = false;
    bool inputGranted = false;
    std::vector<std::string> portalCalls;
    bool soundServerRuns = true;
    bool soundServerFails = false;
    std::vector<PulseDevice> soundDevices{
        {PulseDevice::Kind::Sink, 1, "speakers", "Speakers", false},
        {PulseDevice::Kind::Source, 1, "speakers.monitor", "Monitor of Speakers", true},
        {PulseDevice::Kind::Source, 2, "microphone", "Microphone", false},
    };
};

TEST_F(PermissionsTest, AnX11SessionCanCaptureAndPostInput)
{
    EXPECT_TRUE(permissions().canRecordScreenPermissions());
    EXPECT_TRUE(permissions().canAccessibilityPermissions());
    EXPECT_EQ(opened, (std::vector<std::string>{":5", ":5"}));
}

TEST_F(PermissionsTest, ADisplayWithoutXTestCanCaptureButNotPostInput)
{
    displays[":5"].hasXTest = false;
    EXPECT_TRUE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());
}

TEST_F(PermissionsTest, NoDisplayThatAnswersMeansNeither)
{
    displays.clear();
    EXPECT_FALSE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());

    environment.erase("DISPLAY");
    opened.clear();
    EXPECT_FALSE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());
    environment["DISPLAY"] = "";
    EXPECT_FALSE(permissions().canRecordScreenPermissions());
    EXPECT_TRUE(opened.empty());
}

// A Wayland session's X server (its compatibility server) sees only X11 clients: the portal's grants
// answer, and the requests ask the portal.
TEST_F(PermissionsTest, AWaylandSessionAnswersWithThePortalsGrantsAndAsksThePortal)
{
    environment["WAYLAND_DISPLAY"] = "wayland-0";
    EXPECT_FALSE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());
    permissions().requestScreenRecordingPermissions();
    EXPECT_TRUE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());
    permissions().requestAccessibilityPermissions();
    EXPECT_TRUE(permissions().canAccessibilityPermissions());
    EXPECT_EQ(portalCalls, (std::vector<std::string>{"granted? screen", "granted? input", "ask screen",
                                                     "granted? screen", "granted? input", "ask input",
                                                     "granted? input"}));

    environment.erase("WAYLAND_DISPLAY");
    environment["XDG_SESSION_TYPE"] = "wayland";
    screenGranted = inputGranted = false;
    EXPECT_FALSE(permissions().canRecordScreenPermissions());
    EXPECT_FALSE(permissions().canAccessibilityPermissions());
    EXPECT_TRUE(opened.empty());

    // An empty WAYLAND_DISPLAY names no compositor.
    environment["XDG_SESSION_TYPE"] = "x11";
    environment["WAYLAND_DISPLAY"] = "";
    EXPECT_TRUE(permissions().canRecordScreenPermissions());
}

TEST_F(PermissionsTest, MicrophoneIsAuthorisedByACaptureSource)
{
    EXPECT_EQ(permissions().canMicrophonePermissions(), Permissions::kMicrophoneAuthorized);

    // A sink's monitor records no microphone.
    soundDevices.pop_back();
    EXPECT_EQ(permissions().canMicrophonePermissions(), Permissions::kMicrophoneDenied);

    soundServerFails = true;
    EXPECT_EQ(permissions().canMicrophonePermissions(), Permissions::kMicrophoneNotDetermined);
    soundServerRuns = false;
    EXPECT_EQ(permissions().canMicrophonePermissions(), Permissions::kMicrophoneNotDetermined);
}

TEST_F(PermissionsTest, TheMicrophoneRequestAnswersWithTheCheckAtOnce)
{
    std::vector<bool> answers;
    permissions().requestMicrophonePermissions([&answers](bool granted) { answers.push_back(granted); });
    soundServerRuns = false;
    permissions().requestMicrophonePermissions([&answers](bool granted) { answers.push_back(granted); });
    EXPECT_EQ(answers, (std::vector<bool>{true, false}));
}

TEST_F(PermissionsTest, RequestsAndSettingsPagesTouchNothing)
{
    const Permissions checks = permissions();
    for (const int index : {-1, 0, 1, 2, 3, 4, 1000}) {
        checks.openPrivacySetting(index);
    }
    checks.requestScreenRecordingPermissions();
    checks.requestAccessibilityPermissions();
    EXPECT_TRUE(opened.empty());
}

TEST(PermissionsSystemProbes, ReadTheProcessEnvironment)
{
    const Permissions::Probes probes = Permissions::Probes::system();
    ::setenv("PELKOR_PERMISSIONS_PROBE", "value", 1);
    EXPECT_EQ(probes.environment("PELKOR_PERMISSIONS_PROBE"), "value");
    ::unsetenv("PELKOR_PERMISSIONS_PROBE");
    EXPECT_FALSE(probes.environment("PELKOR_PERMISSIONS_PROBE"));
    EXPECT_FALSE(probes.openDisplay(":59999"));
}

} // namespace
