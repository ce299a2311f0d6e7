#include "Platform/X11ImageGrabber.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <bit>
#include <memory>
#include <utility>

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

// Whether the image's pixels already lie in BgraFrame's layout: 32 bits, blue in the lowest byte.
bool isNativeBgra(const XImage& image, unsigned long red, unsigned long green, unsigned long blue)
{
    return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && red == 0xff0000 && green == 0xff00
        && blue == 0xff;
}

// Shows or converts a Z-format image of a true-colour drawable as BGRA. Images in BgraFrame's layout
// are shown in place, kept by `owner`; others are converted into the frame's own buffer. Images of
// pixmaps carry no colour masks; theirs are the screen's default visual's.
bool toBgra(XImage& image, Visual& defaultVisual, std::shared_ptr<void> owner, BgraFrame& frame)
{
    unsigned long red = image.red_mask != 0 ? image.red_mask : defaultVisual.red_mask;
    unsigned long green = image.green_mask != 0 ? image.green_mask : defaultVisual.green_mask;
    unsigned long blue = image.blue_mask != 0 ? image.blue_mask : defaultVisual.blue_mask;
    if (red == 0 || green == 0 || blue == 0) {
        PLOG("X image of depth %d has no true-colour masks", image.depth);
        return false;
    }
    if (isNativeBgra(image, red, green, blue)) {
        const size_t bytes = static_cast<size_t>(image.bytes_per_line) * static_cast<size_t>(image.height);
        return frame.show(image.width, image.height, image.bytes_per_line,
                          {reinterpret_cast<uint8_t*>(image.data), bytes}, std::move(owner));
    }
    frame.resize(image.width, image.height);
    if (frame.empty()) {
        return false;
    }
    for (int y = 0; y < image.height; ++y) {
        uint8_t* out = frame.pixel(0, y);
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

// The client's mapping of one shared-memory segment. It outlives the grabber while a frame shows it,
// and is unmapped when the last of them lets it go.
struct SegmentMapping {
    void* address = nullptr;
    // Set while a frame shows the segment, which the next grab then leaves alone. Cleared (release)
    // on the thread that drops the frame, read (acquire) by the grabbing thread.
    std::atomic<bool> lent{false};

    ~SegmentMapping()
    {
        if (address != nullptr) {
            shmdt(address);
        }
    }
};

} // namespace

// One shared-memory image attached to the server.
struct X11ImageGrabber::SharedImage {
    XShmSegmentInfo segment{};
    XImage* image = nullptr;
    bool attached = false;
    std::shared_ptr<SegmentMapping> mapping;

    bool fits(int width, int height, int depth) const
    {
        return image->width == width && image->height == height && image->depth == depth;
    }
    bool lent() const { return mapping && mapping->lent.load(std::memory_order_acquire); }
    // What keeps the segment for a frame that shows it, and frees the segment for grabs once dropped.
    std::shared_ptr<void> lend() const
    {
        mapping->lent.store(true, std::memory_order_relaxed);
        return {mapping->address, [kept = mapping](void*) { kept->lent.store(false, std::memory_order_release); }};
    }
};

X11ImageGrabber::X11ImageGrabber(X11Display& display, Transfer transfer)
    : display_(display), useShm_(transfer == Transfer::kAuto && display.hasShm())
{
}

X11ImageGrabber::~X11ImageGrabber()
{
    while (!shared_.empty()) {
        releaseShared(shared_.back());
        shared_.pop_back();
    }
}

X11ImageGrabber::Result X11ImageGrabber::grab(unsigned long drawable, const std::optional<PixelRect>& area,
                                              BgraFrame& frame)
{
    // The segment the frame shows from an earlier grab is free again for this one.
    frame.clear();
    if (display_.lost()) {
        return {};
    }
    Display* display = display_.handle();
    // One trap for the whole grab: each request below waits for its reply, which brings its error
    // along, so only the trap's end waits for the server once more.
    X11ErrorTrap trap(display);
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    const Status status = XGetGeometry(display, drawable, &root, &x, &y, &width, &height, &border, &depth);
    if (status == 0 || trap.error().code != 0) {
        PLOG("X drawable 0x%lx: no geometry (X error %d)", drawable, trap.error().code);
        return {false, trap.error().code};
    }
    const PixelRect wanted = area.value_or(PixelRect{0, 0, static_cast<int>(width), static_cast<int>(height)});
    // A window's geometry excludes its border, its pixmap's includes it; both hold the area asked for.
    const int64_t right = int64_t{wanted.x} + wanted.width;
    const int64_t bottom = int64_t{wanted.y} + wanted.height;
    if (wanted.width < 1 || wanted.height < 1 || wanted.x < 0 || wanted.y < 0 || right > int64_t{width} + 2 * border
        || bottom > int64_t{height} + 2 * border) {
        PLOG("X drawable 0x%lx is %ux%u: cannot grab %dx%d at %d,%d", drawable, width, height, wanted.width,
             wanted.height, wanted.x, wanted.y);
        return {};
    }
    return grabInside(drawable, wanted, static_cast<int>(depth), trap, frame);
}

X11ImageGrabber::Result X11ImageGrabber::grabKnownArea(unsigned long drawable, const PixelRect& area, int depth,
                                                       BgraFrame& frame)
{
    frame.clear();
    if (display_.lost()) {
        return {};
    }
    if (area.width < 1 || area.height < 1 || area.x < 0 || area.y < 0) {
        PLOG("X drawable 0x%lx: cannot grab %dx%d at %d,%d", drawable, area.width, area.height, area.x, area.y);
        return {};
    }
    X11ErrorTrap trap(display_.handle());
    return grabInside(drawable, area, depth, trap, frame);
}

X11ImageGrabber::Result X11ImageGrabber::grabInside(unsigned long drawable, const PixelRect& area, int depth,
                                                    X11ErrorTrap& trap, BgraFrame& frame)
{
    if (useShm_) {
        if (SharedImage* shared = freeShared(area.width, area.height, depth)) {
            return grabShared(*shared, drawable, area, trap, frame);
        }
    }
    return grabPlain(drawable, area, trap, frame);
}

X11ImageGrabber::Result X11ImageGrabber::grabShared(SharedImage& shared, unsigned long drawable,
                                                    const PixelRect& area, X11ErrorTrap& trap, BgraFrame& frame)
{
    Display* display = display_.handle();
    const Bool got = XShmGetImage(display, drawable, shared.image, area.x, area.y, AllPlanes);
    const int error = trap.error().code;
    if (got == False || error != 0) {
        PLOG("X shared-memory grab of 0x%lx (depth %d) failed (X error %d)", drawable, shared.image->depth, error);
        return {false, error};
    }
    if (!toBgra(*shared.image, *DefaultVisual(display, DefaultScreen(display)), shared.lend(), frame)) {
        return {};
    }
    lastUsedShm_ = true;
    return {true, 0};
}

X11ImageGrabber::Result X11ImageGrabber::grabPlain(unsigned long drawable, const PixelRect& area, X11ErrorTrap& trap,
                                                   BgraFrame& frame)
{
    Display* display = display_.handle();
    XImage* image = XGetImage(display, drawable, area.x, area.y, static_cast<unsigned>(area.width),
                              static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    const int error = trap.error().code;
    if (image == nullptr || error != 0) {
        PLOG("X grab of 0x%lx failed (X error %d)", drawable, error);
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return {false, error};
    }
    // Freeing an image touches no connection, so the frame may drop it on any thread.
    const std::shared_ptr<void> owner(image, [](void* kept) { XDestroyImage(static_cast<XImage*>(kept)); });
    if (!toBgra(*image, *DefaultVisual(display, DefaultScreen(display)), owner, frame)) {
        return {};
    }
    lastUsedShm_ = false;
    return {true, 0};
}

X11ImageGrabber::SharedImage* X11ImageGrabber::freeShared(int width, int height, int depth)
{
    // Segments of another size serve no more grabs; frames that still show one keep it mapped.
    std::erase_if(shared_, [&](std::unique_ptr<SharedImage>& shared) {
        const bool stale = !shared->fits(width, height, depth);
        if (stale) {
            releaseShared(shared);
        }
        return stale;
    });
    for (const std::unique_ptr<SharedImage>& shared : shared_) {
        if (!shared->lent()) {
            return shared.get();
        }
    }
    // Every segment is still shown by a frame: one more, up to the limit; past it, the grab goes
    // through the connection.
    if (shared_.size() >= kMaxSegments) {
        return nullptr;
    }
    std::unique_ptr<SharedImage> shared = createShared(width, height, depth);
    if (!shared) {
        return nullptr;
    }
    shared_.push_back(std::move(shared));
    return shared_.back().get();
}

std::unique_ptr<X11ImageGrabber::SharedImage> X11ImageGrabber::createShared(int width, int height, int depth)
{
    Display* display = display_.handle();
    auto shared = std::make_unique<SharedImage>();
    shared->image = XShmCreateImage(display, DefaultVisual(display, DefaultScreen(display)),
                                    static_cast<unsigned>(depth), ZPixmap, nullptr, &shared->segment,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (shared->image == nullptr) {
        PLOG("X shared-memory image %dx%d of depth %d not created", width, height, depth);
        return nullptr;
    }
    const size_t bytes = static_cast<size_t>(shared->image->bytes_per_line) * static_cast<size_t>(height);
    shared->segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shared->segment.shmid < 0) {
        PLOG_ERRNO("shmget");
        releaseShared(shared);
        return nullptr;
    }
    void* address = shmat(shared->segment.shmid, nullptr, 0);
    // Marked for removal at once: the segment goes when both sides have detached, even after a crash.
    shmctl(shared->segment.shmid, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1)) {
        PLOG_ERRNO("shmat");
        releaseShared(shared);
        return nullptr;
    }
    shared->mapping = std::make_shared<SegmentMapping>();
    shared->mapping->address = address;
    shared->segment.shmaddr = shared->image->data = static_cast<char*>(address);
    shared->segment.readOnly = False;
    X11ErrorTrap trap(display);
    XShmAttach(display, &shared->segment);
    if (trap.sync().code != 0) {
        // A server on another host, or in another IPC namespace, cannot reach the segment.
        PLOG("X server cannot attach shared memory (X error %d): grabbing through the connection",
             trap.error().code);
        releaseShared(shared);
        useShm_ = false;
        return nullptr;
    }
    shared->attached = true;
    return shared;
}

void X11ImageGrabber::releaseShared(std::unique_ptr<SharedImage>& shared)
{
    if (shared->attached && !display_.lost()) {
        X11ErrorTrap trap(display_.handle());
        XShmDetach(display_.handle(), &shared->segment);
    }
    // The image's data is the segment, which XDestroyImage must not free; the mapping goes with the
    // last frame that shows it.
    shared->image->data = nullptr;
    XDestroyImage(shared->image);
    shared.reset();
}
