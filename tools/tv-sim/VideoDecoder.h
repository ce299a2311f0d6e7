#pragma once

#include "Media/H264PictureDecoder.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

struct AVFrame;

// Decodes the H.264 stream the TV receives (one Annex-B access unit per kMsgVideoFrame) on a
// thread of its own, so the link's reader only hands the bytes over, and records every picture
// that comes out with the times that give the link's latency.
//
// The sender's stream has no frame reordering, so each access unit must give its picture at once:
// one that the decoder refuses, that gives no picture or a picture marked corrupt counts as an
// error. Safe from any thread; the observer runs on the decoding thread.
class VideoDecoder {
public:
    struct DecodedFrame {
        // The access unit the picture came from, counting every unit submitted since start() from 0.
        uint64_t index = 0;
        int width = 0;
        int height = 0;
        // The message header's time stamp: the sender's queue time, microseconds since the Unix epoch.
        uint64_t timeStamp = 0;
        // Wall clock when the picture was complete, on the same clock.
        uint64_t decodedMicros = 0;
        // 0xRRGGBB at the picture's centre and at the middle of its left edge (where letterbox
        // bars lie); 0 when the picture's format is not 4:2:0.
        uint32_t centreRgb = 0;
        uint32_t leftEdgeRgb = 0;
        // The GlassStamp in the picture's top-left corner, -1 when none is read there.
        int64_t glassStamp = -1;

        int64_t latencyMicros() const
        {
            return static_cast<int64_t>(decodedMicros) - static_cast<int64_t>(timeStamp);
        }
    };
    using Observer = std::function<void(const DecodedFrame&)>;
    using Timeout = std::chrono::milliseconds;

    // A sender faster than the decoder must not grow memory without bound: units beyond these
    // limits are dropped on arrival and counted as errors.
    static constexpr size_t kMaxPendingUnits = 256;
    static constexpr size_t kMaxPendingBytes = size_t(64) << 20;

    // observer (may be empty) sees each picture just before it is recorded.
    explicit VideoDecoder(Observer observer = {});
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens the H.264 decoder and starts the decoding thread; false (logged) when libavcodec has no
    // H.264 decoder or refuses to open it. Call once.
    bool start();
    // Joins the decoding thread; units still waiting are dropped. Idempotent.
    void stop();
    // Queues one access unit and returns at once; ignored unless started.
    void submit(std::vector<uint8_t> accessUnit, uint64_t timeStamp);

    std::vector<DecodedFrame> frames() const;
    size_t errors() const;
    // Until at least count pictures have been decoded; false when the time ran out.
    bool waitForFrames(size_t count, Timeout timeout) const;

private:
    struct Unit {
        uint64_t index = 0;
        uint64_t timeStamp = 0;
        std::vector<uint8_t> bytes;
    };

    void run();
    // Decoding thread: feeds one unit and collects what comes out.
    void decode(const Unit& unit);
    // Decoding thread: records the picture.
    void take(const AVFrame& picture);
    void countError(uint64_t index, const char* what, int status = 0);

    Observer observer_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    mutable std::condition_variable decoded_;
    std::deque<Unit> pending_;
    size_t pendingBytes_ = 0;
    uint64_t nextIndex_ = 0;
    bool running_ = false;
    std::vector<DecodedFrame> frames_;
    size_t errors_ = 0;
    std::thread thread_;
    // Owned by the decoding thread while it runs.
    H264PictureDecoder decoder_;
    // Header time stamps of the units inside the decoder, by index (the packets' pts).
    std::map<int64_t, uint64_t> stamps_;
};
