#pragma once

#include "Utils/Rect.h"
#include "Platform/PostEvent.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class PortalRemoteDesktop;
class WlrVirtualInput;
class XkbKeymap;

// PostEvent's operations in a Wayland session: the compositor's virtual pointer and keyboard where
// it offers them (wlroots desktops), otherwise the desktop portal's remote-desktop session, which
// asks the user once. The way is opened at the first post and opened anew after it broke; the
// portal's question waits on a thread of its own, and posts made meanwhile are dropped (false); one
// refused is not asked again for kAskAgainAfter. Any
// thread; posts are serialised. $PELKOR_WAYLAND_INPUT set to "portal" or "virtual" takes that way alone.
class WaylandPostEvent {
public:
    enum class Road {
        kAuto,
        kVirtualDevices,
        kPortal,
    };

    // Touches keep coming while the user refuses; a question at each would never let them go.
    static constexpr std::chrono::minutes kAskAgainAfter{5};

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
    // With the lock held: a way to post, opened when there is none; false (logged once) when none can
    // be had, or while the portal asks the user.
    bool ready();
    // With the lock held: the portal's session, asked for on the starter thread.
    void startPortal();
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
    // The portal's question in flight, on the starter thread; set at destruction to end it.
    bool starting_ = false;
    // A refused or failed question is not asked again before this.
    std::chrono::steady_clock::time_point askAgainAt_;
    std::thread starter_;
    const std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
};
