#pragma once

#include <functional>
#include <optional>
#include <string>

// Which desktop this process runs in, chosen at run time from the session's variables: an X11
// session is captured and driven through the X server, a Wayland session through the desktop portal
// or the compositor's own protocols.
class DisplaySession {
public:
    enum class Kind {
        kX11,
        kWayland,
        kNone,
    };

    // $XDG_SESSION_TYPE names the session where it is set and its display is there; otherwise a
    // Wayland compositor ($WAYLAND_DISPLAY) wins over an X server ($DISPLAY), which on a Wayland
    // desktop is its X11 compatibility server and sees only X11 clients.
    static Kind current();
    static Kind from(const std::function<std::optional<std::string>(const char* name)>& environment);
};
