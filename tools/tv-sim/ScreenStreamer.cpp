#include "tv-sim/ScreenStreamer.h"

#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Platform/BgraFrame.h"
#include "Utils/Log.h"
#include "tv-sim/TestPattern.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Bits per pixel per second: a clean picture for a picture check, under the encoder's own cap.
constexpr int32_t kBitsPerPixel = 8;

} // namespace

bool ScreenStreamer::valid(const Screen& screen)
{
    const auto side = [](int value) { return value >= 16 && value <= 4096 && value % 2 == 0; };
    return side(screen.width) && side(screen.height) && screen.fps >= 1 && screen.fps <= 120;
}

ScreenStreamer::ScreenStreamer(Send send) : send_(std::move(send)) {}

ScreenStreamer::~ScreenStreamer()
{
    shutdown();
}

bool ScreenStreamer::start(const Screen& screen)
{
    if (!valid(screen)) {
        PLOG("tv-sim: cannot stream a %dx%d screen at %d fps", screen.width, screen.height, screen.fps);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (shutdown_)
            return false;
        screen_ = screen;
        ++generation_;
        active_ = true;
        framesSent_ = 0;
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }
    changed_.notify_all();
    return true;
}

std::optional<uint64_t> ScreenStreamer::stop()
{
    std::optional<uint64_t> sent;
    {
        std::lock_guard lock(mutex_);
        if (active_)
            sent = framesSent_;
        ++generation_;
        active_ = false;
    }
    changed_.notify_all();
    return sent;
}

void ScreenStreamer::shutdown()
{
    {
        std::lock_guard lock(mutex_);
        shutdown_ = true;
        active_ = false;
        ++generation_;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool ScreenStreamer::streaming() const
{
    std::lock_guard lock(mutex_);
    return active_;
}

uint64_t ScreenStreamer::framesSent() const
{
    std::lock_guard lock(mutex_);
    return framesSent_;
}

// The streaming thread: waits for a stream and runs it.
void ScreenStreamer::run()
{
    std::unique_lock lock(mutex_);
    while (!shutdown_) {
        changed_.wait(lock, [this] { return shutdown_ || active_; });
        if (shutdown_)
            break;
        const uint64_t generation = generation_;
        const Screen screen = screen_;
        lock.unlock();
        stream(generation, screen);
        lock.lock();
    }
}

void ScreenStreamer::stream(uint64_t generation, const Screen& screen)
{
    // A fresh session per stream, so each begins with a key frame and its parameter sets.
    TzVideoEncoder encoder;
    const auto replaced = [&] { return shutdown_ || generation_ != generation; };
    if (encoder.startEncodeSessionWithVideoSize(screen.width, screen.height, screen.fps,
                                                screen.width * screen.height * kBitsPerPixel) != 0) {
        PLOG("tv-sim: no encoder for a %dx%d screen", screen.width, screen.height);
        std::lock_guard lock(mutex_);
        if (!replaced())
            active_ = false;
        return;
    }
    const auto period = std::chrono::microseconds(1'000'000 / screen.fps);
    auto due = std::chrono::steady_clock::now();
    BgraFrame picture;
    for (uint32_t index = 0;; ++index) {
        TestPattern::draw(screen.still ? TestPattern::kStillFrame : index, screen.width, screen.height, picture);
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(picture), 0,
                                       [&](std::span<const uint8_t> accessUnit) {
                                           std::lock_guard lock(mutex_);
                                           if (!replaced() && send_(accessUnit))
                                               ++framesSent_;
                                       });
        // A stream that fell behind goes on from now rather than send a burst.
        due = std::max(due + period, std::chrono::steady_clock::now());
        std::unique_lock lock(mutex_);
        if (changed_.wait_until(lock, due, replaced))
            break;
    }
    encoder.stopEncodeSession();
}
