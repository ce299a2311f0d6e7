#pragma once

#include <string>

// The permissions window's buttons, one per permission.
enum class PermissionButton { Accessibility, Microphone, ScreenRecording, InputMonitoring };

// What the permissions window shows. Main thread.
class RequestPermissionsView {
public:
    virtual ~RequestPermissionsView() = default;

    virtual void hidePermissionButton(PermissionButton button) = 0;
    // In place of a privacy-settings page, which this system does not have: what the session lacks
    // for the permission and how to get it.
    virtual void showPrivacyPage(const std::string& explanation) = 0;
    // Every window of the application but this one closes.
    virtual void closeOtherWindows() = 0;
};
