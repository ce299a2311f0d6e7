#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/PixelRect.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

class X11Display;
class X11ErrorTrap;

// Grabs a rectangle of a window or pixmap into a BgraFrame. Uses an MIT-SHM segment, kept between
// grabs of the same size, when the server offers shared memory and can attach it; otherwise the
// pixels travel through the connection (XGetImage). Pixels already in BgraFrame's layout (the usual
// 24- and 32-bit visuals) are shown in place, without a copy: the frame keeps the segment or image
// until it lets it go, and no later grab writes into a segment that a frame still shows.
// One thread at a time; the frames it fills may be dropped on any thread.
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

    // `area` of `drawable`, or all of it, into `frame` (of the area's size; what the frame showed
    // before is let go first). The area must lie inside the drawable. Failures are logged and leave
    // the frame empty.
    Result grab(unsigned long drawable, const std::optional<PixelRect>& area, BgraFrame& frame);
    // `area` of a drawable of `depth` that the caller knows holds it (as one that follows the screen's
    // changes knows the root's): nothing asked of the server first, so with shared memory the grab is
    // one round trip. An area that no longer fits fails with the X error.
    Result grabKnownArea(unsigned long drawable, const PixelRect& area, int depth, BgraFrame& frame);

    // Whether the last successful grab used shared memory.
    bool lastUsedShm() const { return lastUsedShm_; }

private:
    struct SharedImage;

    // Two let a consumer work on one frame while the next is grabbed.
    static constexpr size_t kMaxSegments = 2;

    // Under the grab's trap, once the area is known to be sound.
    Result grabInside(unsigned long drawable, const PixelRect& area, int depth, X11ErrorTrap& trap, BgraFrame& frame);
    Result grabShared(SharedImage& shared, unsigned long drawable, const PixelRect& area, X11ErrorTrap& trap,
                      BgraFrame& frame);
    Result grabPlain(unsigned long drawable, const PixelRect& area, X11ErrorTrap& trap, BgraFrame& frame);
    // A segment of that size that no frame shows, made when needed; null when none can be had.
    SharedImage* freeShared(int width, int height, int depth);
    std::unique_ptr<SharedImage> createShared(int width, int height, int depth);
    void releaseShared(std::unique_ptr<SharedImage>& shared);

    X11Display& display_;
    bool useShm_;
    bool lastUsedShm_ = false;
    std::vector<std::unique_ptr<SharedImage>> shared_;
};
