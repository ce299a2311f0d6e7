#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/PixelRect.h"

#include <memory>

class X11Display;

// Copies a rectangle of a window or pixmap into a BgraFrame. Uses an MIT-SHM segment, kept between
// grabs of the same size, when the server offers shared memory and can attach it; otherwise the
// pixels travel through the connection (XGetImage).
class X11ImageGrabber {
public:
    enum class Transfer {
        kAuto,  // shared memory when it works
        kPlain, // never shared memory
    };
    struct Result {
        bool ok = false;
        int xError = 0; // the X error that made the grab fail, 0 for none (or a failure without one)
    };

    explicit X11ImageGrabber(X11Display& display, Transfer transfer = Transfer::kAuto);
    ~X11ImageGrabber();
    X11ImageGrabber(const X11ImageGrabber&) = delete;
    X11ImageGrabber& operator=(const X11ImageGrabber&) = delete;

    // `area` of `drawable` into `frame` (resized to the area, opaque). The area must lie inside the
    // drawable. Failures are logged.
    Result grab(unsigned long drawable, const PixelRect& area, BgraFrame& frame);

    // Whether the last successful grab used shared memory.
    bool lastUsedShm() const { return lastUsedShm_; }

private:
    struct SharedImage;

    Result grabShared(unsigned long drawable, const PixelRect& area, int depth, BgraFrame& frame);
    Result grabPlain(unsigned long drawable, const PixelRect& area, BgraFrame& frame);
    bool prepareShared(int width, int height, int depth);
    void releaseShared();

    X11Display& display_;
    bool useShm_;
    bool lastUsedShm_ = false;
    std::unique_ptr<SharedImage> shared_;
};
