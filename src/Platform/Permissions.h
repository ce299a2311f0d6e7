#pragma once

#include "Platform/PortalGrants.h"
#include "Platform/PulseDevices.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Tests the three things the system needs from the desktop: posting input (the "accessibility"
// permission), capturing the screen and recording sound. An X11 session asks no per-application
// consent, so there each test says whether the session can do it at all (a display, with XTest for
// input); a Wayland session grants screen sharing and remote control through the desktop portal's
// own questions, which the requests ask (PortalGrants). Sound needs a sound server with a capture
// source. The privacy-settings pages have nothing to show here: logged no-ops. Keeps no state of its
// own. Its operations are virtual so that tests of the windows built on it can stand in for the desktop.
class Permissions {
public:
    // canMicrophonePermissions' answers.
    static constexpr int64_t kMicrophoneNotDetermined = 0;
    static constexpr int64_t kMicrophoneRestricted = 1;
    static constexpr int64_t kMicrophoneDenied = 2;
    static constexpr int64_t kMicrophoneAuthorized = 3;
    // openPrivacySetting's pages.
    static constexpr int32_t kPrivacyInputMonitoring = 0;
    static constexpr int32_t kPrivacyMicrophone = 1;
    static constexpr int32_t kPrivacyScreenRecording = 2;
    static constexpr int32_t kPrivacyAccessibility = 3;

    // What the tests read: the system's by default, fakes in tests.
    struct Probes {
        struct DisplayTraits {
            bool hasXTest = false;
        };
        // An environment variable; nullopt when unset.
        std::function<std::optional<std::string>(const char* name)> environment;
        // Connects to the X display of that name; nullopt when that fails.
        std::function<std::optional<DisplayTraits>(const std::string& name)> openDisplay;
        // The sound server's devices; null when no server answers.
        std::function<std::unique_ptr<PulseDevices>()> soundServer;
        // In a Wayland session: whether the grant is there, or (ask) asks the portal for it.
        std::function<bool(PortalGrants::Grant grant, bool ask)> waylandGrant;

        static Probes system();
    };

    explicit Permissions(Probes probes = Probes::system());
    virtual ~Permissions() = default;
    Permissions(const Permissions&) = default;
    Permissions(Permissions&&) = default;
    Permissions& operator=(const Permissions&) = default;
    Permissions& operator=(Permissions&&) = default;

    // Index 0 input monitoring, 1 microphone, 2 screen recording, 3 accessibility: logged, since no
    // such page exists here; any other index does nothing.
    virtual void openPrivacySetting(int32_t index) const;
    // An X11 session whose display answers, or a Wayland session that grants screen sharing.
    virtual bool canRecordScreenPermissions() const;
    // kMicrophoneAuthorized when the sound server has a capture source, kMicrophoneDenied when it has
    // none, kMicrophoneNotDetermined when no sound server answers.
    virtual int64_t canMicrophonePermissions() const;
    // An X11 session whose display has XTest, or a Wayland session that grants input posting.
    virtual bool canAccessibilityPermissions() const;

    // In a Wayland session the portal's question, answered before it returns; logged no-ops on X11.
    virtual void requestScreenRecordingPermissions() const;
    // Calls done at once, on this thread, with whether canMicrophonePermissions authorises.
    virtual void requestMicrophonePermissions(const std::function<void(bool granted)>& done) const;
    virtual void requestAccessibilityPermissions() const;

private:
    bool wayland() const;
    // The display name of an X11 session; nullopt (logged) without one.
    std::optional<std::string> x11Display(const char* purpose) const;

    Probes probes_;
};
