#include "Session/TvControlController.h"

#include "Platform/MainQueue.h"
#include "Platform/PostEvent.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/TouchPayload.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

namespace {

constexpr uint32_t kLeftButton = 0;
constexpr uint32_t kRightButton = 1;

double clamp(double value, int origin, int length)
{
    return std::clamp(value, static_cast<double>(origin), static_cast<double>(origin + std::max(length, 1) - 1));
}

} // namespace

TvControlController::TvControlController(MainWindowController& owner)
    : owner_(owner), input_(owner.services().input.withDefaults())
{
    assert(mainThread_.holds());
}

TvControlController::~TvControlController() = default;

std::optional<uint16_t> TvControlController::macKeyCode(int tvKeyCode)
{
    switch (tvKeyCode) {
    case 0xEF5B:
        return 123; // left arrow
    case 0xEF5C:
        return 124; // right arrow
    case 0xEF5E:
        return 53; // Escape
    default:
        return std::nullopt;
    }
}

double TvControlController::nowMs()
{
    const auto now = MainQueue::shared()->now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(now).count();
}

std::optional<TvControlController::Point> TvControlController::map(int32_t x, int32_t y) const
{
    const auto area = owner_.casting().touchArea();
    if (!area)
        return std::nullopt;
    const Rect& display = area->display;
    return Point{clamp(display.x + static_cast<double>(area->ratioX) * x, display.x, display.width),
                 clamp(display.y + static_cast<double>(area->ratioY) * y, display.y, display.height)};
}

bool TvControlController::isDoubleClick(int32_t x, int32_t y, double now) const
{
    if (!previousTimeMs_ || now - *previousTimeMs_ > static_cast<double>(kDoubleClickTime.count()))
        return false;
    return std::llabs(int64_t{x} - previousX_) <= kDoubleClickDistance &&
           std::llabs(int64_t{y} - previousY_) <= kDoubleClickDistance;
}

void TvControlController::post(uint32_t type, Point point, int64_t clickCount)
{
    const bool right = type == PostEvent::kRightMouseDown || type == PostEvent::kRightMouseUp;
    const uint32_t button = right ? kRightButton : kLeftButton;
    input_.postMouseEvent(button, type, point.x, point.y, clickCount);
    if (type == PostEvent::kLeftMouseDown || (type == PostEvent::kLeftMouseDragged && leftHeldAt_))
        leftHeldAt_ = point;
    else if (type == PostEvent::kLeftMouseUp)
        leftHeldAt_.reset();
}

void TvControlController::endSession(SessionEnd)
{
    assert(mainThread_.holds());
    if (leftHeldAt_) {
        PLOG("the TV's left button released as its cast ended");
        post(PostEvent::kLeftMouseUp, *leftHeldAt_, 1);
    }
    previousTimeMs_.reset();
}

void TvControlController::onTvcontrolReceived(int type, const uint8_t* data, int64_t len)
{
    // The payload is valid during this call only.
    std::vector<uint8_t> payload(data, data + (data && len > 0 ? len : 0));
    guard_.post([this, type, payload = std::move(payload)] { touched(type, payload); });
}

void TvControlController::tvKeyHandle(int keyCode)
{
    guard_.post([this, keyCode] { keyPressed(keyCode); });
}

void TvControlController::touched(int type, const std::vector<uint8_t>& payload)
{
    assert(mainThread_.holds());
    const auto touch = TouchPayload::decode(payload);
    if (!touch) {
        PLOG_WARNING("touch of %zu bytes dropped: it needs %zu", payload.size(), PointerFilter::kTouchSize);
        return;
    }
    const auto point = map(touch->x, touch->y);
    if (!point)
        return;
    const double now = nowMs();
    switch (type) {
    case kPointerLongPress:
        post(PostEvent::kRightMouseDown, *point, 1);
        post(PostEvent::kRightMouseUp, *point, 1);
        break;
    case kMsgTouchDown:
        if (isDoubleClick(touch->x, touch->y, now)) {
            const Point first = map(previousX_, previousY_).value_or(*point);
            post(PostEvent::kLeftMouseDown, first, 2);
            post(PostEvent::kLeftMouseUp, first, 2);
        } else {
            post(PostEvent::kLeftMouseDown, *point, 1);
        }
        break;
    case kMsgTouchMove:
        post(PostEvent::kLeftMouseDragged, *point, 1);
        break;
    case kMsgTouchUp:
        post(PostEvent::kLeftMouseUp, *point, 1);
        break;
    default:
        return;
    }
    previousX_ = touch->x;
    previousY_ = touch->y;
    previousTimeMs_ = now;
}

void TvControlController::keyPressed(int keyCode)
{
    assert(mainThread_.holds());
    const auto key = macKeyCode(keyCode);
    if (!key) {
        PLOG("TV key 0x%X has no key here: nothing posted", static_cast<unsigned>(keyCode));
        return;
    }
    // Keys go to whatever a cast captures: a window cast ignores only the TV's touches.
    if (owner_.casting().castState() != CastState::Casting)
        return;
    input_.postKeyboardEvent(*key, true, kKeyFlags);
    input_.postKeyboardEvent(*key, false, kKeyFlags);
}
