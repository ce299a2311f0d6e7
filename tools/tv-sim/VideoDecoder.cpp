#include "tv-sim/VideoDecoder.h"

#include "Utils/Log.h"
#include "tv-sim/GlassStamp.h"
#include "tv-sim/PictureColour.h"
#include "tv-sim/WallClock.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <iterator>
#include <utility>

VideoDecoder::VideoDecoder(Observer observer) : observer_(std::move(observer)) {}

VideoDecoder::~VideoDecoder()
{
    stop();
}

bool VideoDecoder::start()
{
    if (thread_.joinable() || decoder_.isOpen())
        return false;
    if (!decoder_.open(H264PictureDecoder::Input::AccessUnits, false, "tv-sim"))
        return false;
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void VideoDecoder::stop()
{
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        pending_.clear();
        pendingBytes_ = 0;
    }
    work_.notify_all();
    if (thread_.joinable())
        thread_.join();
    decoder_.close();
    stamps_.clear();
}

void VideoDecoder::submit(std::vector<uint8_t> accessUnit, uint64_t timeStamp)
{
    std::unique_lock lock(mutex_);
    if (!running_)
        return;
    const uint64_t index = nextIndex_++;
    if (pending_.size() >= kMaxPendingUnits || accessUnit.size() > kMaxPendingBytes - pendingBytes_) {
        ++errors_;
        lock.unlock();
        PLOG("tv-sim: dropping video access unit %llu: the decoder is too far behind",
             static_cast<unsigned long long>(index));
        return;
    }
    pendingBytes_ += accessUnit.size();
    pending_.push_back({.index = index, .timeStamp = timeStamp, .bytes = std::move(accessUnit)});
    lock.unlock();
    work_.notify_one();
}

std::vector<VideoDecoder::DecodedFrame> VideoDecoder::frames() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

size_t VideoDecoder::errors() const
{
    std::lock_guard lock(mutex_);
    return errors_;
}

bool VideoDecoder::waitForFrames(size_t count, Timeout timeout) const
{
    std::unique_lock lock(mutex_);
    return decoded_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

void VideoDecoder::run()
{
    for (;;) {
        Unit unit;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [this] { return !running_ || !pending_.empty(); });
            if (!running_)
                return;
            unit = std::move(pending_.front());
            pending_.pop_front();
            pendingBytes_ -= unit.bytes.size();
        }
        decode(unit);
    }
}

void VideoDecoder::decode(const Unit& unit)
{
    const auto pts = static_cast<int64_t>(unit.index);
    stamps_[pts] = unit.timeStamp;
    const auto outcome = decoder_.decode(unit.bytes, pts, [this](const AVFrame& picture) { take(picture); });
    if (outcome.error < 0)
        countError(unit.index, "is refused by the decoder", outcome.error);
    else if (outcome.corrupt > 0)
        countError(unit.index, "decodes to a corrupt picture");
    else if (outcome.pictures == 0)
        countError(unit.index, "gives no picture");
    if (outcome.pictures == 0)
        stamps_.erase(pts);
}

void VideoDecoder::take(const AVFrame& picture)
{
    const uint64_t decodedAt = wallMicros();
    const int64_t pts = picture.pts;
    const auto stamp = stamps_.find(pts);
    if (stamp == stamps_.end()) {
        countError(static_cast<uint64_t>(pts), "gives a picture of no submitted unit");
        return;
    }
    const std::optional<uint32_t> glassStamp = GlassStamp::read(picture);
    const DecodedFrame frame{.index = static_cast<uint64_t>(pts),
                             .width = picture.width,
                             .height = picture.height,
                             .timeStamp = stamp->second,
                             .decodedMicros = decodedAt,
                             .centreRgb = PictureColour::rgbAt(picture, picture.width / 2, picture.height / 2).value_or(0),
                             .leftEdgeRgb = PictureColour::rgbAt(picture, 1, picture.height / 2).value_or(0),
                             .glassStamp = glassStamp ? static_cast<int64_t>(*glassStamp) : -1};
    // Pictures leave in order: whatever came before this one will never show.
    stamps_.erase(stamps_.begin(), std::next(stamp));
    if (observer_)
        observer_(frame);
    {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
    }
    decoded_.notify_all();
}

void VideoDecoder::countError(uint64_t index, const char* what, int status)
{
    {
        std::lock_guard lock(mutex_);
        ++errors_;
    }
    PLOG("tv-sim: video access unit %llu %s%s%s", static_cast<unsigned long long>(index), what,
         status < 0 ? ": " : "", status < 0 ? H264PictureDecoder::errorText(status).c_str() : "");
}
