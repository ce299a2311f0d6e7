#include "Media/VideoDisplaySink.h"

#include "Media/BgraPictureConverter.h"
#include "Media/H264PictureDecoder.h"
#include "Utils/Log.h"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdr = 5;

// A slice that begins its picture: first_mb_in_slice, the header's first Exp-Golomb value, is 0, a
// single 1 bit right after the NAL header byte.
bool startsPicture(const CompressedSample& sample)
{
    const auto unit = sample.nalUnit();
    const int type = sample.nalUnitType();
    return (type == kNalSlice || type == kNalIdr) && unit.size() > 1 && (unit[1] & 0x80) != 0;
}

} // namespace

VideoDisplaySink::VideoDisplaySink(PictureHandler onPicture, size_t queueLength, size_t maxQueuedSamples)
    : onPicture_(std::move(onPicture)), queueLength_(std::max<size_t>(queueLength, 1)),
      maxQueuedSamples_(maxQueuedSamples == 0 ? queueLength_ * kMaxSlicesPerPicture : maxQueuedSamples),
      decoder_(std::make_unique<H264PictureDecoder>()), converter_(std::make_unique<BgraPictureConverter>()),
      // Strict: the window shows no damaged picture; it reports Failed instead.
      decoderOpened_(decoder_->open(H264PictureDecoder::Input::NalUnits, true, "Display",
                                    int64_t{kMaxPictureSide} * kMaxPictureSide))
{
    if (!decoderOpened_)
        status_ = Status::Failed;
    worker_ = std::thread([this] { run(); });
}

VideoDisplaySink::~VideoDisplaySink()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropQueue();
    }
    work_.notify_all();
    worker_.join();
}

bool VideoDisplaySink::enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample)
{
    std::unique_lock lock(mutex_);
    if (!sample || sample->nalUnit().empty())
        return refuse("an empty sample");
    const bool picture = startsPicture(*sample);
    // Routine drops, counted but not logged (a stream joined midway has many): fail(), the first
    // refusal or the splitter said why. Samples before the stream's parameter sets have no format.
    if (status_ == Status::Failed || !sample->formatDescription() ||
        (awaitKeyFrame_ && !(picture && sample->nalUnitType() == kNalIdr))) {
        ++dropped_;
        return false;
    }
    if (!hasRoom(picture)) {
        awaitKeyFrame_ = true;
        return refuse("the decoder is behind");
    }
    // The first key frame after a gap starts a clean decoder: a picture cut short before the gap
    // would otherwise swallow its slices.
    const bool resetDecoder = std::exchange(awaitKeyFrame_, false);
    queue_.push_back({std::move(sample), generation_, picture, resetDecoder});
    queuedPictures_ += picture;
    status_ = Status::Rendering;
    lock.unlock();
    work_.notify_one();
    return true;
}

bool VideoDisplaySink::hasRoom(bool startsPicture) const
{
    return queue_.size() < maxQueuedSamples_ && !(startsPicture && queuedPictures_ >= queueLength_);
}

bool VideoDisplaySink::refuse(const char* why)
{
    ++dropped_;
    PLOG("Display: sample dropped: %s", why);
    return false;
}

bool VideoDisplaySink::isReadyForMoreMediaData()
{
    std::lock_guard lock(mutex_);
    if (status_ == Status::Failed)
        return false;
    // Room for one more sample: a picture already begun must be able to finish. Whether a new
    // picture fits is enqueueSampleBuffer's to decide.
    if (queue_.size() < maxQueuedSamples_)
        return true;
    // The caller drops the sample it holds: the stream has a gap from here.
    if (!awaitKeyFrame_)
        PLOG("Display: the decoder is behind; waiting for the next key frame");
    awaitKeyFrame_ = true;
    return false;
}

VideoDisplaySink::Status VideoDisplaySink::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void VideoDisplaySink::flush()
{
    std::lock_guard lock(mutex_);
    flushLocked();
}

void VideoDisplaySink::flushAndRemoveImage()
{
    {
        std::lock_guard lock(mutex_);
        flushLocked();
        ++pendingRemovals_;
    }
    work_.notify_one();
}

void VideoDisplaySink::flushLocked()
{
    dropQueue();
    ++generation_;
    awaitKeyFrame_ = true;
    // A decoder that never opened stays failed: nothing can decode.
    if (decoderOpened_)
        status_ = Status::Unknown;
}

void VideoDisplaySink::dropQueue()
{
    dropped_ += queue_.size();
    queue_.clear();
    queuedPictures_ = 0;
}

size_t VideoDisplaySink::droppedSamples() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

size_t VideoDisplaySink::shownPictures() const
{
    std::lock_guard lock(mutex_);
    return shown_;
}

bool VideoDisplaySink::isIdle() const
{
    std::lock_guard lock(mutex_);
    return queue_.empty() && !decoding_ && pendingRemovals_ == 0;
}

void VideoDisplaySink::run()
{
    pthread_setname_np(pthread_self(), "display.sink");
    for (;;) {
        Work work;
        bool remove = false;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [this] { return stopping_ || !queue_.empty() || pendingRemovals_ > 0; });
            if (stopping_)
                return;
            remove = pendingRemovals_ > 0;
            if (remove)
                --pendingRemovals_;
            if (!queue_.empty()) {
                work = std::move(queue_.front());
                queue_.pop_front();
                queuedPictures_ -= work.startsPicture;
            }
            decoding_ = true;
        }
        // Comes after every picture handed on before the flush that asked for it.
        if (remove && onPicture_)
            onPicture_(nullptr);
        if (work.sample)
            decode(work);
        std::lock_guard lock(mutex_);
        decoding_ = false;
    }
}

void VideoDisplaySink::decode(const Work& work)
{
    if (work.resetDecoder) {
        decoder_->flush();
        decoderFormat_.reset();
    }
    const auto& format = work.sample->formatDescription();
    const auto onPicture = [&](const AVFrame& picture) { deliver(converter_->convert(picture), work.generation); };
    // The decoder learns a new format from its parameter sets, sent ahead of the first slice.
    if (!decoderFormat_ || !decoderFormat_->matches(format->sps(), format->pps())) {
        if (const auto why = refusal(*format)) {
            fail(work.generation, "refuses " + *why, 0);
            return;
        }
        const auto outcome = decoder_->decode(format->parameterSetsAnnexB(), nextPts_++, onPicture);
        if (outcome.error < 0) {
            fail(work.generation, "refuses the parameter sets", outcome.error);
            return;
        }
        decoderFormat_ = format;
    }
    const auto outcome = decoder_->decode(work.sample->data(), nextPts_++, onPicture);
    if (outcome.error < 0)
        fail(work.generation, "refuses a sample", outcome.error);
    else if (outcome.corrupt > 0)
        fail(work.generation, "gives a damaged picture", 0);
}

void VideoDisplaySink::deliver(std::shared_ptr<const BgraFrame> picture, uint64_t generation)
{
    if (!picture)
        return;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return;
        ++shown_;
    }
    if (onPicture_)
        onPicture_(std::move(picture));
}

std::optional<std::string> VideoDisplaySink::refusal(const VideoFormatDescription& format)
{
    const int width = format.width();
    const int height = format.height();
    if (width <= 0 || height <= 0)
        return "an SPS that declares no readable picture size";
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width > kMaxPictureSide || height > kMaxPictureSide)
        return "pictures of " + size + ": more than " + std::to_string(kMaxPictureSide) + " a side";
    if (int64_t{width} * height * (format.referenceFrames() + 1) > kMaxDecodedPixels)
        return "pictures of " + size + " with " + std::to_string(format.referenceFrames()) +
               " reference pictures: more than " + std::to_string(kMaxDecodedPixels) + " pixels at once";
    return std::nullopt;
}

void VideoDisplaySink::fail(uint64_t generation, const std::string& what, int error)
{
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return;
        status_ = Status::Failed;
        dropQueue();
    }
    PLOG("Display: the decoder %s%s%s; nothing more is shown until a flush", what.c_str(), error < 0 ? ": " : "",
         error < 0 ? H264PictureDecoder::errorText(error).c_str() : "");
}
