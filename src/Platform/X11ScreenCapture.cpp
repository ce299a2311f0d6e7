#include "Platform/X11ScreenCapture.h"

#include "Platform/X11Display.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>

#include <algorithm>

X11ScreenCapture::X11ScreenCapture(X11Display& display, X11ImageGrabber::Transfer transfer)
    : display_(display), list_(display), grabber_(display, transfer),
      rootDepth_(DefaultDepth(display.handle(), DefaultScreen(display.handle())))
{
}

std::vector<X11ScreenCapture::DisplayInfo> X11ScreenCapture::displays()
{
    return list_.displays();
}

std::optional<X11ScreenCapture::DisplayInfo> X11ScreenCapture::findDisplay(uint32_t id)
{
    return list_.find(id);
}

PixelRect X11ScreenCapture::screenFrame()
{
    if (display_.lost()) {
        return {};
    }
    // Asked of the server each time: Xlib's cached screen size misses a RandR resize.
    const std::optional<X11Display::Geometry> geometry = display_.geometry(display_.root());
    if (!geometry) {
        return {};
    }
    return {0, 0, static_cast<int>(geometry->width), static_cast<int>(geometry->height)};
}

void X11ScreenCapture::displaysChanged()
{
    target_.reset();
}

std::optional<PixelRect> X11ScreenCapture::capturedArea() const
{
    return target_ && captured_ ? std::optional(target_->area) : std::nullopt;
}

std::optional<PixelRect> X11ScreenCapture::locate(uint32_t displayId, CaptureResult& failure)
{
    failure = CaptureResult::kFailed;
    const PixelRect screen = screenFrame();
    if (screen.width < 1 || screen.height < 1) {
        return std::nullopt;
    }
    if (displayId == 0) {
        return screen;
    }
    const std::optional<DisplayInfo> info = findDisplay(displayId);
    if (!info) {
        PLOG("no display with id %u", displayId);
        failure = CaptureResult::kNoSuchDisplay;
        return std::nullopt;
    }
    // An output can reach past a screen that was made smaller meanwhile.
    const int right = std::min(info->frame.x + info->frame.width, screen.width);
    const int bottom = std::min(info->frame.y + info->frame.height, screen.height);
    return PixelRect{info->frame.x, info->frame.y, right - info->frame.x, bottom - info->frame.y};
}

X11ScreenCapture::CaptureResult X11ScreenCapture::capture(uint32_t displayId, BgraFrame& frame)
{
    captured_ = false;
    if (display_.lost()) {
        frame.clear();
        return CaptureResult::kFailed;
    }
    // The kept place, then at most once a place asked for now.
    for (;;) {
        const bool kept = target_ && target_->displayId == displayId;
        if (!kept) {
            CaptureResult failure = CaptureResult::kFailed;
            const std::optional<PixelRect> area = locate(displayId, failure);
            if (!area) {
                target_.reset();
                frame.clear();
                return failure;
            }
            target_ = Target{displayId, *area};
        }
        if (grabber_.grabKnownArea(display_.root(), target_->area, rootDepth_, frame).ok) {
            captured_ = true;
            return CaptureResult::kOk;
        }
        target_.reset();
        if (!kept || display_.lost()) {
            return CaptureResult::kFailed;
        }
    }
}
