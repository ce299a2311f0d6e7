#pragma once

#include "Platform/CaptureSource.h"
#include "Utils/Rect.h"

#include <cstdint>
#include <optional>
#include <string>

// The capture roads of a Wayland session, chosen when a cast starts: the desktop portal where one
// answers on the session bus (the only road to one window or the portal's virtual screen), and on
// wlroots compositors without one their screen copy (also of an extended screen that is one of their
// outputs). $PELKOR_WAYLAND_CAPTURE set to "portal" or
// "screencopy" takes that road alone.
class WaylandCapture {
public:
    enum class Road {
        kPortal,
        kScreencopy,
        kNone,
    };
    struct Display {
        uint32_t id = 0; // the compositor's name of the output
        Rect frame;
    };
    // What the Extend and window choices can have in this session.
    struct Offer {
        bool window = false;
        bool virtualScreen = false;
    };

    // The road of a whole-screen cast now.
    static Road monitorRoad();
    // Makes the sources of this session's casts.
    static CaptureSourceFactory factory();
    // The compositor's first output, where a whole-screen cast's pictures come from; nullopt without
    // a compositor.
    static std::optional<Display> mainDisplay();
    // What the portal offers beside whole screens (nothing without a portal).
    static Offer offer();
};
