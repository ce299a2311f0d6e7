#include "Platform/X11ScreenCapture.h"

#include "Platform/X11Display.h"
#include "Utils/Log.h"

#include <algorithm>

X11ScreenCapture::X11ScreenCapture(X11Display& display, X11ImageGrabber::Transfer transfer)
    : display_(display), list_(display), grabber_(display, transfer)
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

X11ScreenCapture::CaptureResult X11ScreenCapture::capture(uint32_t displayId, BgraFrame& frame)
{
    if (display_.lost()) {
        return CaptureResult::kFailed;
    }
    std::optional<PixelRect> area;
    if (displayId != 0) {
        const std::optional<DisplayInfo> info = findDisplay(displayId);
        if (!info) {
            PLOG("no display with id %u", displayId);
            return CaptureResult::kNoSuchDisplay;
        }
        // An output can reach past a screen that was made smaller meanwhile.
        const PixelRect screen = screenFrame();
        const int right = std::min(info->frame.x + info->frame.width, screen.width);
        const int bottom = std::min(info->frame.y + info->frame.height, screen.height);
        area = PixelRect{info->frame.x, info->frame.y, right - info->frame.x, bottom - info->frame.y};
    }
    // Without an area the grab takes the whole screen at the size the server has now.
    return grabber_.grab(display_.root(), area, frame).ok ? CaptureResult::kOk : CaptureResult::kFailed;
}
