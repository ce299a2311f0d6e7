#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/X11ImageGrabber.h"

#include <cstdint>

class X11Display;

// Captures the content of one window, also where other windows cover it or it reaches past the
// screen: the window is redirected off-screen with Composite (automatic redirection, so it still
// shows on the screen) and its pixmap is read. Without Composite the window is read directly.
class X11WindowCapture {
public:
    enum class CaptureResult {
        kOk,
        kWindowGone, // the window was destroyed; every later capture says so too
        kFailed,     // for now: not mapped, or the grab failed
    };

    X11WindowCapture(X11Display& display, uint32_t window,
                     X11ImageGrabber::Transfer transfer = X11ImageGrabber::Transfer::kAuto);
    // Ends the redirection, when the window still exists.
    ~X11WindowCapture();
    X11WindowCapture(const X11WindowCapture&) = delete;
    X11WindowCapture& operator=(const X11WindowCapture&) = delete;

    // The window's content, without its border, into `frame`.
    CaptureResult capture(BgraFrame& frame);
    uint32_t window() const { return window_; }
    bool lastUsedShm() const { return grabber_.lastUsedShm(); }

private:
    CaptureResult windowGone();
    CaptureResult captureComposited(int border, int width, int height, BgraFrame& frame);

    X11Display& display_;
    uint32_t window_;
    X11ImageGrabber grabber_;
    bool redirectTried_ = false;
    bool redirected_ = false; // by this object, so undone by it
    bool gone_ = false;
};
