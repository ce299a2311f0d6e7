#include "Platform/X11ImageGrabber.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <bit>
#include <cstring>

namespace {

// Scales one colour channel of a pixel, selected by its mask, to 8 bits.
uint8_t channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const unsigned long value = (pixel & mask) >> shift;
    const unsigned long maximum = (1UL << bits) - 1;
    return static_cast<uint8_t>(value * 255 / maximum);
}

// Converts a Z-format image of a true-colour drawable to BGRA. Images of pixmaps carry no colour
// masks; theirs are the screen's default visual's.
bool toBgra(XImage& image, Visual& defaultVisual, BgraFrame& frame)
{
    unsigned long red = image.red_mask != 0 ? image.red_mask : defaultVisual.red_mask;
    unsigned long green = image.green_mask != 0 ? image.green_mask : defaultVisual.green_mask;
    unsigned long blue = image.blue_mask != 0 ? image.blue_mask : defaultVisual.blue_mask;
    if (red == 0 || green == 0 || blue == 0) {
        PLOG("X image of depth %d has no true-colour masks", image.depth);
        return false;
    }
    frame.resize(image.width, image.height);
    if (frame.empty()) {
        return false;
    }
    const bool native = image.bits_per_pixel == 32 && image.byte_order == LSBFirst && red == 0xff0000
        && green == 0xff00 && blue == 0xff;
    for (int y = 0; y < image.height; ++y) {
        uint8_t* out = frame.pixel(0, y);
        if (native) {
            std::memcpy(out, image.data + static_cast<size_t>(y) * static_cast<size_t>(image.bytes_per_line),
                        static_cast<size_t>(frame.stride));
            for (int x = 0; x < image.width; ++x) {
                out[4 * x + 3] = 0xff;
            }
            continue;
        }
        for (int x = 0; x < image.width; ++x) {
            const unsigned long pixel = XGetPixel(&image, x, y);
            out[4 * x] = channel(pixel, blue);
            out[4 * x + 1] = channel(pixel, green);
            out[4 * x + 2] = channel(pixel, red);
            out[4 * x + 3] = 0xff;
        }
    }
    return true;
}

} // namespace

struct X11ImageGrabber::SharedImage {
    XShmSegmentInfo segment{};
    XImage* image = nullptr;
    bool attached = false;
};

X11ImageGrabber::X11ImageGrabber(X11Display& display, Transfer transfer)
    : display_(display), useShm_(transfer == Transfer::kAuto && display.hasShm())
{
}

X11ImageGrabber::~X11ImageGrabber()
{
    releaseShared();
}

X11ImageGrabber::Result X11ImageGrabber::grab(unsigned long drawable, const PixelRect& area, BgraFrame& frame)
{
    if (display_.lost()) {
        return {};
    }
    int error = 0;
    const std::optional<X11Display::Geometry> geometry = display_.geometry(drawable, &error);
    if (!geometry) {
        PLOG("X drawable 0x%lx: no geometry (X error %d)", drawable, error);
        return {false, error};
    }
    const auto [width, height, border, depth] = *geometry;
    // A window's geometry excludes its border, its pixmap's includes it; both hold the area asked for.
    const int64_t right = int64_t{area.x} + area.width;
    const int64_t bottom = int64_t{area.y} + area.height;
    if (area.width < 1 || area.height < 1 || area.x < 0 || area.y < 0 || right > int64_t{width} + 2 * border
        || bottom > int64_t{height} + 2 * border) {
        PLOG("X drawable 0x%lx is %ux%u: cannot grab %dx%d at %d,%d", drawable, width, height, area.width,
             area.height, area.x, area.y);
        return {};
    }
    if (useShm_ && prepareShared(area.width, area.height, static_cast<int>(depth))) {
        return grabShared(drawable, area, static_cast<int>(depth), frame);
    }
    return grabPlain(drawable, area, frame);
}

X11ImageGrabber::Result X11ImageGrabber::grabShared(unsigned long drawable, const PixelRect& area, int depth,
                                                    BgraFrame& frame)
{
    Display* display = display_.handle();
    X11ErrorTrap trap(display);
    const Bool got = XShmGetImage(display, drawable, shared_->image, area.x, area.y, AllPlanes);
    const int error = trap.sync().code;
    if (got == False || error != 0) {
        PLOG("X shared-memory grab of 0x%lx (depth %d) failed (X error %d)", drawable, depth, error);
        return {false, error};
    }
    if (!toBgra(*shared_->image, *DefaultVisual(display, DefaultScreen(display)), frame)) {
        return {};
    }
    lastUsedShm_ = true;
    return {true, 0};
}

X11ImageGrabber::Result X11ImageGrabber::grabPlain(unsigned long drawable, const PixelRect& area, BgraFrame& frame)
{
    Display* display = display_.handle();
    X11ErrorTrap trap(display);
    XImage* image = XGetImage(display, drawable, area.x, area.y, static_cast<unsigned>(area.width),
                              static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    const int error = trap.sync().code;
    if (image == nullptr || error != 0) {
        PLOG("X grab of 0x%lx failed (X error %d)", drawable, error);
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return {false, error};
    }
    const bool converted = toBgra(*image, *DefaultVisual(display, DefaultScreen(display)), frame);
    XDestroyImage(image);
    if (!converted) {
        return {};
    }
    lastUsedShm_ = false;
    return {true, 0};
}

bool X11ImageGrabber::prepareShared(int width, int height, int depth)
{
    if (shared_ && shared_->image->width == width && shared_->image->height == height
        && shared_->image->depth == depth) {
        return true;
    }
    releaseShared();
    Display* display = display_.handle();
    auto shared = std::make_unique<SharedImage>();
    shared->image = XShmCreateImage(display, DefaultVisual(display, DefaultScreen(display)),
                                    static_cast<unsigned>(depth), ZPixmap, nullptr, &shared->segment,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (shared->image == nullptr) {
        PLOG("X shared-memory image %dx%d of depth %d not created", width, height, depth);
        return false;
    }
    shared_ = std::move(shared);
    const size_t bytes = static_cast<size_t>(shared_->image->bytes_per_line) * static_cast<size_t>(height);
    shared_->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shared_->segment.shmid < 0) {
        PLOG_ERRNO("shmget");
        releaseShared();
        return false;
    }
    void* address = shmat(shared_->segment.shmid, nullptr, 0);
    // Marked for removal at once: the segment goes when both sides have detached, even after a crash.
    shmctl(shared_->segment.shmid, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1)) {
        PLOG_ERRNO("shmat");
        releaseShared();
        return false;
    }
    shared_->segment.shmaddr = shared_->image->data = static_cast<char*>(address);
    shared_->segment.readOnly = False;
    X11ErrorTrap trap(display);
    XShmAttach(display, &shared_->segment);
    if (trap.sync().code != 0) {
        // A server on another host, or in another IPC namespace, cannot reach the segment.
        PLOG("X server cannot attach shared memory (X error %d): grabbing through the connection",
             trap.error().code);
        releaseShared();
        useShm_ = false;
        return false;
    }
    shared_->attached = true;
    return true;
}

void X11ImageGrabber::releaseShared()
{
    if (!shared_) {
        return;
    }
    if (shared_->attached && !display_.lost()) {
        X11ErrorTrap trap(display_.handle());
        XShmDetach(display_.handle(), &shared_->segment);
    }
    if (shared_->segment.shmaddr != nullptr) {
        shmdt(shared_->segment.shmaddr);
    }
    // The image's data is the segment, which XDestroyImage must not free.
    shared_->image->data = nullptr;
    XDestroyImage(shared_->image);
    shared_.reset();
}
