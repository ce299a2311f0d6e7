#include "Platform/X11WindowCapture.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xcomposite.h>

namespace {

// The errors of a request on a window, or on its pixmap's window, that no longer exists.
bool isGoneError(int code)
{
    return code == BadWindow || code == BadDrawable;
}

} // namespace

X11WindowCapture::X11WindowCapture(X11Display& display, uint32_t window, X11ImageGrabber::Transfer transfer)
    : display_(display), window_(window), grabber_(display, transfer)
{
}

X11WindowCapture::~X11WindowCapture()
{
    if (redirected_ && !gone_ && !display_.lost()) {
        // The window may have gone since the last capture: the trap absorbs the BadWindow.
        X11ErrorTrap trap(display_.handle());
        XCompositeUnredirectWindow(display_.handle(), window_, CompositeRedirectAutomatic);
    }
}

X11WindowCapture::CaptureResult X11WindowCapture::windowGone()
{
    if (!gone_) {
        PLOG("window 0x%x is gone", window_);
        gone_ = true;
    }
    return CaptureResult::kWindowGone;
}

X11WindowCapture::CaptureResult X11WindowCapture::capture(BgraFrame& frame)
{
    if (gone_) {
        return CaptureResult::kWindowGone;
    }
    if (display_.lost()) {
        return CaptureResult::kFailed;
    }
    Display* display = display_.handle();
    XWindowAttributes attributes{};
    {
        X11ErrorTrap trap(display);
        const Status got = XGetWindowAttributes(display, window_, &attributes);
        const int error = trap.sync().code;
        if (isGoneError(error)) {
            return windowGone();
        }
        if (got == 0 || error != 0) {
            PLOG("window 0x%x: no attributes (X error %d)", window_, error);
            return CaptureResult::kFailed;
        }
    }
    if (attributes.map_state != IsViewable) {
        PLOG("window 0x%x is not shown", window_);
        return CaptureResult::kFailed;
    }
    if (display_.hasComposite()) {
        return captureComposited(attributes.border_width, attributes.width, attributes.height, frame);
    }
    const X11ImageGrabber::Result grabbed = grabber_.grab(window_, std::nullopt, frame);
    if (isGoneError(grabbed.xError)) {
        return windowGone();
    }
    return grabbed.ok ? CaptureResult::kOk : CaptureResult::kFailed;
}

X11WindowCapture::CaptureResult X11WindowCapture::captureComposited(int border, int width, int height, BgraFrame& frame)
{
    Display* display = display_.handle();
    if (!redirectTried_) {
        X11ErrorTrap trap(display);
        XCompositeRedirectWindow(display, window_, CompositeRedirectAutomatic);
        const int error = trap.sync().code;
        if (isGoneError(error)) {
            return windowGone();
        }
        // Naming the pixmap below still works when a compositing manager redirects the window.
        if (error != 0) {
            PLOG("window 0x%x: not redirected (X error %d)", window_, error);
        }
        redirectTried_ = true;
        redirected_ = error == 0;
    }
    Pixmap pixmap = 0;
    {
        X11ErrorTrap trap(display);
        // The window gets a new pixmap whenever it is mapped or resized, so it is named anew each time.
        pixmap = XCompositeNameWindowPixmap(display, window_);
        const int error = trap.sync().code;
        if (isGoneError(error)) {
            return windowGone();
        }
        if (error != 0) {
            PLOG("window 0x%x: no pixmap (X error %d)", window_, error);
            return CaptureResult::kFailed;
        }
    }
    // The pixmap outlives the window, so reading it cannot hit a vanished window.
    const bool ok = grabber_.grab(pixmap, Rect{border, border, width, height}, frame).ok;
    {
        X11ErrorTrap trap(display);
        XFreePixmap(display, pixmap);
    }
    return ok ? CaptureResult::kOk : CaptureResult::kFailed;
}
