#pragma once

#include "Platform/BgraFrame.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// One cast's picture from a source other than the X server (a Wayland session's portal stream or
// screen copy). Made for one cast and used on its capture queue only: one call per frame tick.
class CaptureSource {
public:
    enum class Result {
        kFrame,   // `frame` holds the source's latest picture
        kNoFrame, // nothing to show yet (the stream has not begun)
        kLost,    // the source went away (the window closed, the user ended the share)
        kFailed,  // the source cannot be read
    };

    virtual ~CaptureSource() = default;
    // The latest picture; the first call may wait for the user's consent (see CaptureRequest).
    virtual Result capture(BgraFrame& frame) = 0;
};

// What a cast asks of its source.
struct CaptureRequest {
    enum class Kind {
        kMonitor, // a whole display
        kWindow,  // one window, which the desktop lets the user choose
        kVirtual, // an extended screen that only the cast shows
    };
    Kind kind = Kind::kMonitor;
    // The display's id as the session's display list gives it; 0 for the main display.
    uint32_t displayId = 0;
    // Set from another thread when the cast stops: a source waiting for the user's consent gives up.
    std::shared_ptr<const std::atomic<bool>> cancelled;
};

// Makes a cast's source; null when the session cannot give that kind.
using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>(const CaptureRequest&)>;
