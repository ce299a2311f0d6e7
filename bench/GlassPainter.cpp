#include "GlassPainter.h"

#include "BenchXvfb.h"

#include "Platform/X11Display.h"
#include "tv-sim/GlassStamp.h"
#include "tv-sim/WallClock.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStampInterval = std::chrono::milliseconds(1);
constexpr auto kSceneInterval = std::chrono::microseconds(1'000'000 / 60);

} // namespace

GlassPainter::GlassPainter(std::string displayName, int width, int height)
    : displayName_(std::move(displayName)), width_(width), height_(height)
{
}

GlassPainter::~GlassPainter()
{
    painting_.store(false);
    if (thread_.joinable())
        thread_.join();
}

bool GlassPainter::start()
{
    if (!X11Display::open(displayName_))
        return false;
    painting_.store(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

uint64_t GlassPainter::drawnAt(int64_t number) const
{
    std::lock_guard lock(mutex_);
    return number >= 0 && static_cast<size_t>(number) < drawnAt_.size() ? drawnAt_[static_cast<size_t>(number)] : 0;
}

void GlassPainter::run()
{
    const auto display = X11Display::open(displayName_);
    if (!display)
        return;
    Display* connection = display->handle();
    GC gc = XCreateGC(connection, display->root(), 0, nullptr);
    BenchScene scene(*display, width_, height_, GlassStamp::kHeight * 2);
    // 32 bits a pixel, as the screen's default visual of depth 24 keeps them.
    std::vector<uint32_t> pixels(size_t{GlassStamp::kWidth} * GlassStamp::kHeight);
    XImage* image = XCreateImage(connection, DefaultVisual(connection, DefaultScreen(connection)), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), GlassStamp::kWidth, GlassStamp::kHeight, 32,
                                 GlassStamp::kWidth * 4);
    uint32_t number = 0;
    int frame = 0;
    auto nextScene = Clock::now();
    for (auto next = Clock::now(); painting_.load(); next += kStampInterval) {
        if (Clock::now() >= nextScene) {
            scene.draw(frame++);
            nextScene += kSceneInterval;
        }
        const auto white = GlassStamp::cells(number);
        for (int y = 0; y < GlassStamp::kHeight; ++y)
            for (int x = 0; x < GlassStamp::kWidth; ++x)
                pixels[size_t(y) * GlassStamp::kWidth + size_t(x)] = white[size_t(x / GlassStamp::kCell)] ? 0xFFFFFF : 0;
        // One request: a capture sees the whole row of one number, never half of two.
        XPutImage(connection, display->root(), gc, image, 0, 0, 0, 0, GlassStamp::kWidth, GlassStamp::kHeight);
        XSync(connection, False);
        const uint64_t at = wallMicros();
        {
            std::lock_guard lock(mutex_);
            drawnAt_.push_back(at);
        }
        number = number == GlassStamp::kLargest ? 0 : number + 1;
        std::this_thread::sleep_until(next + kStampInterval);
    }
    // The pixels are ours, not the image's.
    image->data = nullptr;
    XDestroyImage(image);
    XFreeGC(connection, gc);
}
