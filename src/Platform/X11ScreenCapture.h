#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/PixelRect.h"
#include "Platform/X11DisplayList.h"
#include "Platform/X11ImageGrabber.h"

#include <cstdint>
#include <optional>
#include <vector>

class X11Display;

// Captures one display (as X11DisplayList names them) or the whole X screen.
class X11ScreenCapture {
public:
    using DisplayInfo = X11DisplayList::DisplayInfo;
    enum class CaptureResult {
        kOk,
        kNoSuchDisplay,
        kFailed,
    };

    explicit X11ScreenCapture(X11Display& display,
                              X11ImageGrabber::Transfer transfer = X11ImageGrabber::Transfer::kAuto);

    // The displays attached now, the primary one first; empty without RandR.
    std::vector<DisplayInfo> displays();
    // The display with that id, when one is attached now.
    std::optional<DisplayInfo> findDisplay(uint32_t id);
    // The frame of display `displayId` into `frame`; id 0 takes the whole screen.
    CaptureResult capture(uint32_t displayId, BgraFrame& frame);
    // The whole screen; empty when the server cannot tell.
    PixelRect screenFrame();

    bool lastUsedShm() const { return grabber_.lastUsedShm(); }

private:
    X11Display& display_;
    X11DisplayList list_;
    X11ImageGrabber grabber_;
};
