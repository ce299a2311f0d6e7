#include "Platform/X11VirtualDisplay.h"

#include "Platform/VirtualDisplayPlacement.h"
#include "Platform/X11Display.h"
#include "Platform/X11DisplayList.h"
#include "Platform/X11ErrorTrap.h"
#include "Platform/X11ScreenCapture.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>

namespace {

// A size in millimetres for `pixels` at the density `pixels` / `millimetres` has; 96 per inch when
// that is unknown.
int millimetres(int pixels, int knownPixels, int knownMillimetres)
{
    if (knownPixels <= 0 || knownMillimetres <= 0)
        return static_cast<int>(std::lround(pixels * 25.4 / 96.0));
    return static_cast<int>(std::lround(static_cast<double>(pixels) * knownMillimetres / knownPixels));
}

std::string xError(const char* what, int code)
{
    return std::string(what) + " (X error " + std::to_string(code) + ")";
}

} // namespace

X11VirtualDisplay::Created X11VirtualDisplay::create(const std::string& displayName)
{
    std::unique_ptr<X11Display> display = X11Display::open(displayName);
    if (!display)
        return {nullptr, "no X display"};
    if (!display->hasRandrMonitors())
        return {nullptr, "the X server has no RandR 1.5 monitors"};
    const std::vector<X11DisplayList::DisplayInfo> displays = X11DisplayList(*display).displays();
    if (displays.empty())
        return {nullptr, "the X server shows no display"};
    const Rect main = displays.front().frame;
    std::unique_ptr<X11VirtualDisplay> made(new X11VirtualDisplay(std::move(display), main.width, main.height));
    const VirtualDisplayPlacement origin = VirtualDisplayPlacement::rightOf(main, main.height);
    std::string refusal;
    {
        std::lock_guard lock(made->mutex_);
        refusal = made->place(origin.x, origin.y);
    }
    if (!refusal.empty())
        return {nullptr, refusal};
    PLOG("virtual display %s: %dx%d at %d,%d", kName, main.width, main.height, origin.x, origin.y);
    return {std::move(made), {}};
}

X11VirtualDisplay::X11VirtualDisplay(std::unique_ptr<X11Display> display, int width, int height)
    : display_(std::move(display)),
      nameAtom_(XInternAtom(display_->handle(), kName, False)),
      width_(width),
      height_(height)
{
}

X11VirtualDisplay::~X11VirtualDisplay()
{
    std::lock_guard lock(mutex_);
    remove();
}

uint32_t X11VirtualDisplay::displayId() const
{
    return X11DisplayList::monitorId(nameAtom_);
}

std::optional<X11VirtualDisplay::Layout> X11VirtualDisplay::layout()
{
    std::lock_guard lock(mutex_);
    if (display_->lost())
        return std::nullopt;
    Layout layout;
    const std::vector<X11DisplayList::DisplayInfo> displays = X11DisplayList(*display_).displays();
    if (displays.empty()) {
        const auto screen = screenSize();
        if (!screen)
            return std::nullopt;
        layout.mainFrame = {0, 0, screen->width, screen->height};
    } else {
        layout.mainId = displays.front().id;
        layout.mainFrame = displays.front().frame;
    }
    for (const auto& info : displays) {
        if (info.id == displayId())
            layout.frame = info.frame;
    }
    return layout;
}

bool X11VirtualDisplay::placeAt(int x, int y)
{
    std::lock_guard lock(mutex_);
    const std::string refusal = place(x, y);
    if (!refusal.empty())
        PLOG("virtual display not placed at %d,%d: %s", x, y, refusal.c_str());
    return refusal.empty();
}

BgraFrame X11VirtualDisplay::snapshot()
{
    std::lock_guard lock(mutex_);
    BgraFrame frame;
    X11ScreenCapture capture(*display_);
    if (capture.capture(displayId(), frame) == X11ScreenCapture::CaptureResult::kOk)
        return frame;
    const auto displays = capture.displays();
    const uint32_t mainId = displays.empty() ? 0 : displays.front().id;
    if (capture.capture(mainId, frame) != X11ScreenCapture::CaptureResult::kOk)
        frame.clear();
    return frame;
}

std::string X11VirtualDisplay::place(int x, int y)
{
    if (display_->lost())
        return "the X display is gone";
    // The X screen starts at 0, 0: a display that would reach above or left of it starts there.
    if (x < 0 || y < 0)
        PLOG("virtual display origin %d,%d moved into the X screen", x, y);
    const Rect area{std::max(x, 0), std::max(y, 0), width_, height_};
    std::string refusal = growScreenFor(area);
    return refusal.empty() ? setMonitor(area) : refusal;
}

std::optional<X11VirtualDisplay::ScreenSize> X11VirtualDisplay::screenSize() const
{
    // Asked of the server: Xlib's cached size misses a resize made meanwhile.
    const auto geometry = display_->geometry(display_->root());
    if (!geometry)
        return std::nullopt;
    Display* display = display_->handle();
    const int screen = DefaultScreen(display);
    const int width = static_cast<int>(geometry->width);
    const int height = static_cast<int>(geometry->height);
    return ScreenSize{width, height, millimetres(width, DisplayWidth(display, screen), DisplayWidthMM(display, screen)),
                      millimetres(height, DisplayHeight(display, screen), DisplayHeightMM(display, screen))};
}

std::string X11VirtualDisplay::growScreenFor(const Rect& area)
{
    const auto current = screenSize();
    if (!current)
        return "the X screen's size cannot be read";
    const int width = std::max(current->width, area.x + area.width);
    const int height = std::max(current->height, area.y + area.height);
    if (width == current->width && height == current->height)
        return {};
    Display* display = display_->handle();
    int minWidth = 0;
    int minHeight = 0;
    int maxWidth = 0;
    int maxHeight = 0;
    if (!XRRGetScreenSizeRange(display, display_->root(), &minWidth, &minHeight, &maxWidth, &maxHeight))
        return "the X screen's size range cannot be read";
    if (width > maxWidth || height > maxHeight) {
        return "the X screen cannot grow to " + std::to_string(width) + "x" + std::to_string(height) + " (at most " +
               std::to_string(maxWidth) + "x" + std::to_string(maxHeight) + ")";
    }
    const ScreenSize grown{width, height, millimetres(width, current->width, current->widthMm),
                           millimetres(height, current->height, current->heightMm)};
    X11ErrorTrap trap(display);
    XRRSetScreenSize(display, display_->root(), grown.width, grown.height, grown.widthMm, grown.heightMm);
    if (const int code = trap.sync().code; code != 0)
        return xError("the X server refused to grow the screen", code);
    if (!original_)
        original_ = current;
    grown_ = grown;
    return {};
}

std::string X11VirtualDisplay::setMonitor(const Rect& area)
{
    Display* display = display_->handle();
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display, 0);
    if (monitor == nullptr)
        return "out of memory";
    monitor->name = nameAtom_;
    monitor->primary = False;
    monitor->automatic = False;
    monitor->x = area.x;
    monitor->y = area.y;
    monitor->width = area.width;
    monitor->height = area.height;
    monitor->mwidth = millimetres(area.width, 0, 0);
    monitor->mheight = millimetres(area.height, 0, 0);
    // The server refuses a second monitor of the same name, ours or one left by an earlier run.
    deleteMonitor();
    X11ErrorTrap trap(display);
    XRRSetMonitor(display, display_->root(), monitor);
    XRRFreeMonitors(monitor);
    if (const int code = trap.sync().code; code != 0)
        return xError("the X server refused the monitor", code);
    return {};
}

void X11VirtualDisplay::deleteMonitor()
{
    X11ErrorTrap trap(display_->handle());
    XRRDeleteMonitor(display_->handle(), display_->root(), nameAtom_);
    // Deleting a monitor that is not there is no error worth telling.
    trap.sync();
}

void X11VirtualDisplay::remove()
{
    if (display_->lost())
        return;
    deleteMonitor();
    Display* display = display_->handle();
    // A screen someone resized since is theirs now.
    const auto current = screenSize();
    if (!grown_ || !current || current->width != grown_->width || current->height != grown_->height)
        return;
    X11ErrorTrap trap(display);
    XRRSetScreenSize(display, display_->root(), original_->width, original_->height, original_->widthMm,
                     original_->heightMm);
    if (const int code = trap.sync().code; code != 0)
        PLOG("X screen not shrunk back to %dx%d (X error %d)", original_->width, original_->height, code);
}
