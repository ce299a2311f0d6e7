#pragma once

#include "Update/AboutWindowController.h"

#include <functional>

class AppInfo;

// What the about window works with in the application: the HTTP client, the update service named by
// the information file (no "PKUpdateHost": no service, and no network test either), reachability of
// that host, and the real install steps.
class AboutServices {
public:
    // `terminate` ends the application in the standard way.
    static AboutWindowController::Services forApplication(const AppInfo& info, std::function<void()> terminate);
    // The user-defaults key the install removes before the new version starts.
    static constexpr const char* kRecordingPermissionsKey = "requestScreenRecordingPermissions";
};
