#pragma once

#include "Platform/PixelRect.h"
#include "Platform/PostEvent.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class PortalRemoteDesktop;
class WlrVirtualInput;
class XkbKeymap;

// PostEvent's operations in a Wayland session: the compositor's virtual pointer and keyboard where
// it offers them (wlroots desktops), otherwise the desktop portal's remote-desktop session, which
// asks the user once. The way is opened at the first post and opened anew after it broke. Any
// thread; posts are serialised. $PELKOR_WAYLAND_INPUT set to "portal" or "virtual" takes that way alone.
class WaylandPostEvent {
public:
    enum class Road {
        kAuto,
        kVirtualDevices,
        kPortal,
    };

    // The session's compositor ($WAYLAND_DISPLAY), the road $PELKOR_WAYLAND_INPUT names.
    static WaylandPostEvent& shared();

    explicit WaylandPostEvent(Road road = Road::kAuto, std::string socket = {});
    ~WaylandPostEvent();
    WaylandPostEvent(const WaylandPostEvent&) = delete;
    WaylandPostEvent& operator=(const WaylandPostEvent&) = delete;

    // As PostEvent's: the point in the display's pixels (the compositor's layout), the click count
    // unused (clients tell double clicks by time).
    bool postMouseEvent(uint32_t button, uint32_t type, PostEvent::Point point, int64_t clickCount);
    bool postKeyboardEvent(uint16_t keyCode, bool keyDown, uint64_t flags);

private:
    // With the lock held: a way to post, opened when there is none; false (logged once) when none can be had.
    bool ready();
    void dropWay();
    bool move(PostEvent::Point point);
    bool press(int32_t button, bool pressed);

    const Road road_;
    const std::string socket_;
    std::mutex mutex_;
    std::unique_ptr<WlrVirtualInput> devices_;
    std::unique_ptr<PortalRemoteDesktop> portal_;
    std::unique_ptr<XkbKeymap> keymap_;
    bool unavailableLogged_ = false;
};
