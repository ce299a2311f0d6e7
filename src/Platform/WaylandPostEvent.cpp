#include "Platform/WaylandPostEvent.h"

#include "Platform/MacKeyCodes.h"
#include "Platform/PortalRemoteDesktop.h"
#include "Platform/WaylandCapture.h"
#include "Platform/WlrVirtualInput.h"
#include "Platform/XkbKeymap.h"
#include "Utils/Log.h"

#include <linux/input-event-codes.h>

#include <cstdlib>
#include <cstring>

namespace {

WaylandPostEvent::Road roadFromEnvironment()
{
    const char* road = std::getenv("PELKOR_WAYLAND_INPUT");
    if (road != nullptr && std::strcmp(road, "portal") == 0)
        return WaylandPostEvent::Road::kPortal;
    if (road != nullptr && std::strcmp(road, "virtual") == 0)
        return WaylandPostEvent::Road::kVirtualDevices;
    return WaylandPostEvent::Road::kAuto;
}

} // namespace

WaylandPostEvent& WaylandPostEvent::shared()
{
    static WaylandPostEvent poster(roadFromEnvironment());
    return poster;
}

WaylandPostEvent::WaylandPostEvent(Road road, std::string socket) : road_(road), socket_(std::move(socket)) {}

WaylandPostEvent::~WaylandPostEvent()
{
    closing_->store(true);
    if (starter_.joinable())
        starter_.join();
}

bool WaylandPostEvent::ready()
{
    if (devices_ || portal_)
        return true;
    if (!keymap_ && !(keymap_ = XkbKeymap::makeDefault()))
        return false;
    if (road_ != Road::kPortal)
        devices_ = WlrVirtualInput::open(socket_);
    if (devices_) {
        unavailableLogged_ = false;
        return true;
    }
    if (road_ != Road::kVirtualDevices && !starting_ && std::chrono::steady_clock::now() >= askAgainAt_) {
        startPortal();
        return false;
    }
    if (!unavailableLogged_)
        PLOG("the TV's input cannot be posted now: %s",
             starting_                      ? "the desktop asks the user for remote control"
             : road_ == Road::kVirtualDevices ? "this Wayland desktop offers no virtual devices"
                                              : "remote control was not granted");
    unavailableLogged_ = true;
    return false;
}

void WaylandPostEvent::startPortal()
{
    starting_ = true;
    if (starter_.joinable())
        starter_.join();
    // The user's answer may take long: the posting thread (the main thread) does not wait for it.
    starter_ = std::thread([this] {
        const auto display = WaylandCapture::mainDisplay();
        std::unique_ptr<PortalRemoteDesktop> portal =
            display ? PortalRemoteDesktop::start(display->frame, PortalTokens::settings(), closing_) : nullptr;
        std::lock_guard lock(mutex_);
        if (!portal)
            askAgainAt_ = std::chrono::steady_clock::now() + kAskAgainAfter;
        portal_ = std::move(portal);
        starting_ = false;
        unavailableLogged_ = false;
    });
}

void WaylandPostEvent::dropWay()
{
    // Opened anew at the next post (the compositor or the portal went, or the user revoked it).
    devices_.reset();
    portal_.reset();
}

bool WaylandPostEvent::move(PostEvent::Point point)
{
    return devices_ ? devices_->moveTo(point.x, point.y) : portal_->moveTo(point.x, point.y);
}

bool WaylandPostEvent::press(int32_t button, bool pressed)
{
    return devices_ ? devices_->button(static_cast<uint32_t>(button), pressed) : portal_->button(button, pressed);
}

bool WaylandPostEvent::postMouseEvent(uint32_t, uint32_t type, PostEvent::Point point, int64_t)
{
    int32_t button = 0;
    bool pressed = false;
    switch (type) {
    case PostEvent::kLeftMouseDown:
        button = BTN_LEFT;
        pressed = true;
        break;
    case PostEvent::kLeftMouseUp:
        button = BTN_LEFT;
        break;
    case PostEvent::kRightMouseDown:
        button = BTN_RIGHT;
        pressed = true;
        break;
    case PostEvent::kRightMouseUp:
        button = BTN_RIGHT;
        break;
    case PostEvent::kLeftMouseDragged:
        break;
    default:
        return false;
    }
    std::lock_guard lock(mutex_);
    if (!ready())
        return false;
    const bool posted = move(point) && (button == 0 || press(button, pressed));
    if (!posted)
        dropWay();
    return posted;
}

bool WaylandPostEvent::postKeyboardEvent(uint16_t keyCode, bool keyDown, uint64_t)
{
    const std::optional<uint32_t> keysym = MacKeyCodes::toKeysym(keyCode);
    if (!keysym)
        return false;
    std::lock_guard lock(mutex_);
    if (!ready())
        return false;
    const std::optional<uint32_t> code = keymap_->evdevKeyOf(*keysym);
    if (!code)
        return false;
    const bool posted = devices_ ? devices_->key(*code, keyDown) : portal_->key(static_cast<int32_t>(*code), keyDown);
    if (!posted)
        dropWay();
    return posted;
}
