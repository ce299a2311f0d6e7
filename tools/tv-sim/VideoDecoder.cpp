#include "tv-sim/VideoDecoder.h"

#include "Utils/Log.h"
#include "tv-sim/WallClock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <climits>
#include <iterator>
#include <utility>

VideoDecoder::VideoDecoder(Observer observer) : observer_(std::move(observer)) {}

VideoDecoder::~VideoDecoder()
{
    stop();
}

bool VideoDecoder::start()
{
    if (thread_.joinable() || context_ != nullptr)
        return false;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        PLOG("tv-sim: libavcodec has no H.264 decoder");
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    picture_ = av_frame_alloc();
    if (context_ == nullptr || packet_ == nullptr || picture_ == nullptr) {
        PLOG("tv-sim: no memory for the H.264 decoder");
        closeCodec();
        return false;
    }
    // A TV shows each picture as soon as it is whole: no output delay, and slice threads (which add
    // none) rather than frame threads (which hold a picture back per thread).
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count = 0;
    const int opened = avcodec_open2(context_, codec, nullptr);
    if (opened < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(opened, text, sizeof text);
        PLOG("tv-sim: the H.264 decoder does not open: %s", text);
        closeCodec();
        return false;
    }
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
    closeCodec();
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
    // The decoder reads a little past its input; libavcodec copies an unowned packet into a padded
    // buffer, so the size must leave room for that padding.
    if (unit.bytes.empty() || unit.bytes.size() > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
        countError(unit.index, "is empty or too large");
        return;
    }
    const auto pts = static_cast<int64_t>(unit.index);
    stamps_[pts] = unit.timeStamp;
    packet_->data = const_cast<uint8_t*>(unit.bytes.data());
    packet_->size = static_cast<int>(unit.bytes.size());
    packet_->pts = pts;
    const int sent = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    bool gotPicture = false;
    if (sent < 0) {
        countError(unit.index, "is refused by the decoder", sent);
    } else {
        int status = 0;
        while ((status = avcodec_receive_frame(context_, picture_)) == 0) {
            gotPicture = true;
            take();
            av_frame_unref(picture_);
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            countError(unit.index, "breaks the decoder", status);
        else if (!gotPicture)
            countError(unit.index, "gives no picture");
    }
    if (!gotPicture)
        stamps_.erase(pts);
}

void VideoDecoder::take()
{
    const uint64_t decodedAt = wallMicros();
    const int64_t pts = picture_->pts;
    const auto stamp = stamps_.find(pts);
    if (stamp == stamps_.end()) {
        countError(static_cast<uint64_t>(pts), "gives a picture of no submitted unit");
        return;
    }
    const DecodedFrame frame{.index = static_cast<uint64_t>(pts),
                             .width = picture_->width,
                             .height = picture_->height,
                             .timeStamp = stamp->second,
                             .decodedMicros = decodedAt};
    // Pictures leave in order: whatever came before this one will never show.
    stamps_.erase(stamps_.begin(), std::next(stamp));
    if (picture_->decode_error_flags != 0 || (picture_->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        countError(frame.index, "decodes to a corrupt picture");
        return;
    }
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
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (status < 0)
        av_strerror(status, text, sizeof text);
    PLOG("tv-sim: video access unit %llu %s%s%s", static_cast<unsigned long long>(index), what,
         status < 0 ? ": " : "", text);
}

void VideoDecoder::closeCodec()
{
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&picture_);
    stamps_.clear();
}
