#pragma once

#include "Media/CompressedSample.h"
#include "Platform/BgraFrame.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class BgraPictureConverter;
class H264PictureDecoder;

// Shows the TV's stream in the TV-screen window: takes the splitter's samples (still compressed),
// decodes them on a worker thread of its own and hands each picture, as a BGRA frame of the decoded
// size, to the window. The caller never waits: the queue is short, and a sample that finds it full
// is refused (logged) rather than queued. The queue holds a few pictures, each of any number of
// slices (samples). What a refusal or a flush cut off cannot be decoded, so slices are then dropped
// until the next key frame, as they are before the first one; that key frame starts a clean decoder.
//
// Damaged input makes the status Failed: pictures stop and samples are refused until flush(). So does
// a stream whose pictures are larger than kMaxPictureSide on a side, or whose pictures and reference
// pictures together pass kMaxDecodedPixels: the TV sends its screen, and a stream past these is no
// screen but a way to take the computer's memory.
//
// Threads: every method may be called from any thread (the window calls from "com.display.queue");
// the picture handler runs on the worker, never with a lock held, and must not destroy the sink.
class VideoDisplaySink {
public:
    enum class Status {
        Unknown = 0,
        Rendering = 1,
        Failed = 2,
    };
    // A decoded picture to draw, or nullptr: take the shown picture away.
    using PictureHandler = std::function<void(std::shared_ptr<const BgraFrame> picture)>;

    // Pictures waiting for the decoder, at most: about 130 ms at 60 pictures per second, enough to
    // ride out the slow first key frame without the caller ever waiting.
    static constexpr size_t kDefaultQueueLength = 8;
    // The queue's samples are bounded too, by default to queue length x this.
    static constexpr size_t kMaxSlicesPerPicture = 64;
    // The largest picture side taken: an 8K screen.
    static constexpr int kMaxPictureSide = 8192;
    // The decoder's pictures at once (one being decoded and the SPS's reference pictures), in pixels:
    // four of the largest pictures, about 400 MB at 4:2:0; any screen up to 4K with 16 references.
    static constexpr int64_t kMaxDecodedPixels = int64_t{4} * kMaxPictureSide * kMaxPictureSide;

    // Why a format's pictures are refused; nullopt when they fit the bounds above.
    static std::optional<std::string> refusal(const VideoFormatDescription& format);

    // Starts the worker and opens the decoder; a decoder that does not open makes the status Failed.
    // maxQueuedSamples 0 takes the default.
    explicit VideoDisplaySink(PictureHandler onPicture, size_t queueLength = kDefaultQueueLength,
                              size_t maxQueuedSamples = 0);
    // Drops what is queued and joins the worker.
    ~VideoDisplaySink();
    VideoDisplaySink(const VideoDisplaySink&) = delete;
    VideoDisplaySink& operator=(const VideoDisplaySink&) = delete;

    // Queues one sample for decoding and returns at once; false when it is refused: the queue is
    // full, the status is Failed, the sample has no format, or it comes while a key frame is awaited.
    bool enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample);
    // Whether one more sample would find room in the queue now (a new picture may still be refused).
    // The caller drops its sample when not (the window does), so a "no" is taken as a gap in the
    // stream: later samples are dropped until the next key frame.
    bool isReadyForMoreMediaData();
    Status status() const;
    // Drops every queued sample; pictures of what was dropped never come, and the decoder's state
    // goes before the next key frame. The status goes back to Unknown.
    void flush();
    // flush(), then the handler is told to take the shown picture away.
    void flushAndRemoveImage();

    // Samples refused or dropped since creation, pictures handed on: for logs and benchmarks.
    size_t droppedSamples() const;
    size_t shownPictures() const;
    // Nothing queued and nothing being decoded: every sample handed in so far is done with.
    bool isIdle() const;

private:
    struct Work {
        std::shared_ptr<const CompressedSample> sample;
        uint64_t generation = 0;
        bool startsPicture = false;
        bool resetDecoder = false;
    };

    void run();
    // Worker: decodes one sample and hands on what comes out.
    void decode(const Work& work);
    // Worker: hands picture on unless a flush came since the sample was queued.
    void deliver(std::shared_ptr<const BgraFrame> picture, uint64_t generation);
    // Worker: the status becomes Failed unless a flush came since the sample was queued.
    void fail(uint64_t generation, const std::string& what, int error);
    // Caller holds mutex_.
    bool refuse(const char* why);
    bool hasRoom(bool startsPicture) const;
    void flushLocked();
    void dropQueue();

    PictureHandler onPicture_;
    const size_t queueLength_;
    const size_t maxQueuedSamples_;

    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::deque<Work> queue_;
    size_t queuedPictures_ = 0;
    Status status_ = Status::Unknown;
    // Counts flushes; work from an older generation is not shown.
    uint64_t generation_ = 0;
    size_t pendingRemovals_ = 0;
    bool awaitKeyFrame_ = true;
    bool stopping_ = false;
    bool decoding_ = false;
    size_t dropped_ = 0;
    size_t shown_ = 0;

    // The worker's own.
    std::unique_ptr<H264PictureDecoder> decoder_;
    std::unique_ptr<BgraPictureConverter> converter_;
    const bool decoderOpened_;
    std::shared_ptr<const VideoFormatDescription> decoderFormat_;
    int64_t nextPts_ = 0;

    std::thread worker_;
};
