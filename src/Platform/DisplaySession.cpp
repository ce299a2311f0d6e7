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
    const bool wayland = set("WAYLAND_DISPLAY");
    const bool x11 = set("DISPLAY");
    const std::string type = environment("XDG_SESSION_TYPE").value_or("");
    if (type == "wayland" && wayland)
        return Kind::kWayland;
    if (type == "x11" && x11)
        return Kind::kX11;
    if (wayland)
        return Kind::kWayland;
    return x11 ? Kind::kX11 : Kind::kNone;
}
