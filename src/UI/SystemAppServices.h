#pragma once

#include "UI/AppDelegate.h"

// The application delegate's services on this computer: the drivers and permissions of the running
// session, the shared-file server on port 8080 with the link's session key, and the sound server's
// default devices.
class SystemAppServices {
public:
    // The sound device the main window makes the default input and output.
    static constexpr const char* kLoopbackDevice = "ROZI-Audio";

    // Main thread.
    static AppDelegate::Services make();
};
