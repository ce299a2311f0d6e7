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
    // The frame of display `displayId` into `frame`; id 0 takes the whole screen. Where the display
    // shows is asked of the server (RandR, many round trips) on the first call and kept, so a grab is
    // one round trip: displaysChanged(), or a grab of the kept place that fails (a change not told
    // yet), makes the next call ask again.
    CaptureResult capture(uint32_t displayId, BgraFrame& frame);
    // The screen's displays changed: the next capture asks where its display shows now.
    void displaysChanged();
    // Where the last successful capture took its frame, in the screen's coordinates.
    std::optional<PixelRect> capturedArea() const;
    // The whole screen; empty when the server cannot tell.
    PixelRect screenFrame();

    bool lastUsedShm() const { return grabber_.lastUsedShm(); }

private:
    struct Target {
        uint32_t displayId = 0;
        PixelRect area;
    };

    // Where display `displayId` shows now, inside the screen; nullopt with the reason when nowhere.
    std::optional<PixelRect> locate(uint32_t displayId, CaptureResult& failure);

    X11Display& display_;
    X11DisplayList list_;
    X11ImageGrabber grabber_;
    const int rootDepth_;
    std::optional<Target> target_;
    bool captured_ = false;
};
