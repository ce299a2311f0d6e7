#include "Platform/PostEvent.h"

#include "Platform/MacKeyCodes.h"
#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// The protocol carries pointer positions as 16-bit signed values; the server clamps them to the screen.
int toCoordinate(double value)
{
    return static_cast<int>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

} // namespace

PostEvent& PostEvent::shared()
{
    // Never destroyed: a post from another thread may still run while the process exits.
    static PostEvent* const instance = new PostEvent;
    return *instance;
}

PostEvent::PostEvent(std::string displayName) : displayName_(std::move(displayName)) {}

PostEvent::~PostEvent() = default;

bool PostEvent::postMouseEvent(uint32_t /*button*/, uint32_t type, Point point, int64_t /*clickCount*/)
{
    unsigned button = 0;
    bool press = false;
    switch (type) {
    case kLeftMouseDown:
        button = Button1;
        press = true;
        break;
    case kLeftMouseUp:
        button = Button1;
        break;
    case kRightMouseDown:
        button = Button3;
        press = true;
        break;
    case kRightMouseUp:
        button = Button3;
        break;
    case kLeftMouseDragged:
        break;
    default:
        PLOG("mouse event type %u is not posted", type);
        return false;
    }
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
        PLOG("mouse event at a point that is not a number is not posted");
        return false;
    }
    return post("mouse", [&](Display* display) {
        XTestFakeMotionEvent(display, DefaultScreen(display), toCoordinate(point.x), toCoordinate(point.y),
                             CurrentTime);
        if (button != 0) {
            XTestFakeButtonEvent(display, button, press ? True : False, CurrentTime);
        }
        return true;
    });
}

bool PostEvent::postKeyboardEvent(uint16_t keyCode, bool keyDown, uint64_t /*flags*/)
{
    const std::optional<uint32_t> keysym = MacKeyCodes::toKeysym(keyCode);
    if (!keysym) {
        PLOG("key code %u names no key: nothing posted", keyCode);
        return false;
    }
    return post("key", [&](Display* display) {
        const KeyCode key = XKeysymToKeycode(display, *keysym);
        if (key == 0) {
            PLOG("no key of X display %s gives keysym 0x%x: nothing posted", DisplayString(display), *keysym);
            return false;
        }
        XTestFakeKeyEvent(display, key, keyDown ? True : False, CurrentTime);
        return true;
    });
}

bool PostEvent::post(const char* what, const std::function<bool(_XDisplay*)>& request)
{
    std::lock_guard lock(mutex_);
    X11Display* display = connection();
    if (display == nullptr) {
        return false;
    }
    X11ErrorTrap trap(display->handle());
    if (!request(display->handle())) {
        return false;
    }
    // Waits until the server has taken the event, so it is in the input stream when this returns.
    const int error = trap.sync().code;
    if (error != 0 || display->lost()) {
        PLOG("%s event not posted to X display %s (X error %d)", what, display->name().c_str(), error);
        return false;
    }
    return true;
}

X11Display* PostEvent::connection()
{
    if (unavailable_) {
        return nullptr;
    }
    if (display_ && display_->lost()) {
        display_.reset();
    }
    if (!display_) {
        std::unique_ptr<X11Display> opened = X11Display::open(displayName_);
        if (!opened || !opened->hasXTest()) {
            // Said once: every later post fails the same way.
            PLOG("%s: mouse and keyboard events will not be posted",
                 opened ? "the X display has no XTest extension" : "no X display");
            unavailable_ = true;
            return nullptr;
        }
        display_ = std::move(opened);
    }
    return display_.get();
}
