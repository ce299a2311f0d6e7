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

    // Wayland where $XDG_SESSION_TYPE says so or a compositor is named ($WAYLAND_DISPLAY): an X
    // server there ($DISPLAY) is the desktop's X11 compatibility server, which sees only X11 clients.
    // Otherwise X11 where $DISPLAY is set.
    static Kind current();
    static Kind from(const std::function<std::optional<std::string>(const char* name)>& environment);
};
