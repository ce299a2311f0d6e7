#pragma once

#include "App/AppDelegate.h"

#include <cstdint>

// The application delegate's services on this computer: the drivers and permissions of the running
// session, the shared-file server on port 8080 with the link's session key, and the sound server's
// default devices.
class SystemAppServices {
public:
    // The sound device the main window makes the default input and output.
    static constexpr const char* kLoopbackDevice = "ROZI-Audio";

    // Names the TV's port where a TV peer listens on another than the usual one (the demo and the
    // end-to-end test run theirs on a free port).
    static constexpr const char* kTvPortVariable = "PELKOR_TV_PORT";
    static constexpr uint16_t kTvPort = 6666;
    // The camera and microphone relay listens here on 127.0.0.1 when the application enables it.
    static constexpr uint16_t kRoziPort = 8888;
    // "off" runs no discovery, so nothing is broadcast (the demo on a machine where it cannot keep its
    // traffic in a private network); a typed address still connects.
    static constexpr const char* kDiscoveryVariable = "PELKOR_DISCOVERY";

    // Main thread.
    static AppDelegate::Services make();
    // The port kTvPortVariable's value names, kTvPort when it is unset; a value that is not a whole
    // number from 1 to 65535 is logged and gives kTvPort.
    static uint16_t tvPort(const char* value);
    // False only for kDiscoveryVariable's value "off".
    static bool discoveryRuns(const char* value);
};
