#include "Platform/DisplaySession.h"

#include <cstdlib>

DisplaySession::Kind DisplaySession::current()
{
    return from([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    });
}

DisplaySession::Kind DisplaySession::from(const std::function<std::optional<std::string>(const char* name)>& environment)
{
    const auto set = [&](const char* name) {
        const auto value = environment(name);
        return value && !value->empty();
    };
    // The desktop portal answers on the session bus even where the compositor's socket is not named.
    if (set("WAYLAND_DISPLAY") || environment("XDG_SESSION_TYPE") == "wayland")
        return Kind::kWayland;
    return set("DISPLAY") ? Kind::kX11 : Kind::kNone;
}
