#include "Platform/X11ScreenCapture.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>

namespace {

struct ResourcesDeleter {
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct OutputDeleter {
    void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
struct CrtcDeleter {
    void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};

} // namespace

X11ScreenCapture::X11ScreenCapture(X11Display& display, X11ImageGrabber::Transfer transfer)
    : display_(display), grabber_(display, transfer)
{
}

std::vector<X11ScreenCapture::DisplayInfo> X11ScreenCapture::displays()
{
    std::vector<DisplayInfo> found;
    if (!display_.hasRandr() || display_.lost()) {
        return found;
    }
    Display* display = display_.handle();
    X11ErrorTrap trap(display);
    // The current resources: no probing of the outputs, which can take seconds.
    std::unique_ptr<XRRScreenResources, ResourcesDeleter> resources(
        XRRGetScreenResourcesCurrent(display, display_.root()));
    if (!resources) {
        PLOG("RandR screen resources not available");
        return found;
    }
    const RROutput primary = XRRGetOutputPrimary(display, display_.root());
    for (int i = 0; i < resources->noutput; ++i) {
        std::unique_ptr<XRROutputInfo, OutputDeleter> output(
            XRRGetOutputInfo(display, resources.get(), resources->outputs[i]));
        if (!output || output->connection != RR_Connected || output->crtc == 0) {
            continue;
        }
        std::unique_ptr<XRRCrtcInfo, CrtcDeleter> crtc(XRRGetCrtcInfo(display, resources.get(), output->crtc));
        if (!crtc || crtc->width == 0 || crtc->height == 0) {
            continue;
        }
        DisplayInfo info;
        info.id = static_cast<uint32_t>(resources->outputs[i]);
        info.name.assign(output->name, static_cast<size_t>(std::max(output->nameLen, 0)));
        info.frame = {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
        info.primary = resources->outputs[i] == primary;
        found.push_back(std::move(info));
    }
    if (trap.sync().code != 0) {
        PLOG("RandR query failed (X error %d)", trap.error().code);
    }
    std::stable_partition(found.begin(), found.end(), [](const DisplayInfo& info) { return info.primary; });
    return found;
}

std::optional<X11ScreenCapture::DisplayInfo> X11ScreenCapture::findDisplay(uint32_t id)
{
    for (DisplayInfo& info : displays()) {
        if (info.id == id) {
            return std::move(info);
        }
    }
    return std::nullopt;
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
