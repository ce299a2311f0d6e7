#pragma once

#include "Media/EncoderH264/ParameterSetRequest.h"
#include "Media/EncoderH264/SlicedI420Converter.h"
#include "Platform/BgraFrame.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

struct x264_t;
struct x264_picture_t;

// Encodes the frames of one cast into an H.264 Baseline stream for the TV: one x264 session at the
// cast size, frame rate and bit rate, real-time tuned (no B-frames, no reordering, no look-ahead), a
// key frame every fps x 2 frames, and each encoded frame rewritten into one Annex-B access unit with
// 4-byte start codes. SPS and PPS go in front of every key frame, of the first frame that is not a
// key frame after one, and of the next frame that is not a key frame after the TV asked for them
// (the ParameterSetRequest given at construction).
//
// Threads: start, stop and encode may come from any threads; the encoder's lock makes them
// exclusive, and each frame is encoded synchronously on the thread that hands it over. Frames are
// numbered by the encoder in the order they take the lock, so the capture keeps them in order by
// handing them over from one thread or serial queue. The completion closure runs on the encoding
// thread with the lock held, which is what guarantees that no access unit is delivered once
// stopEncodeSession returns or the encoder is gone; it must not wait for a thread that starts,
// stops or feeds this encoder.
class TzVideoEncoder {
public:
    // One captured image. The capture hands BGRA: X11's 32-bit pixels, bytes B, G, R and one ignored
    // byte, in plane 0. I420 carries Y, U and V planes, the chroma planes (width + 1) / 2 by
    // (height + 1) / 2. Each plane holds its rows `strides[i]` bytes apart; a plane too small for its
    // rows refuses the frame. Any size is accepted and scaled to the session's size.
    struct Frame {
        enum class Format { BGRA, I420 };
        Format format = Format::BGRA;
        int width = 0;
        int height = 0;
        std::array<std::span<const uint8_t>, 3> planes{};
        std::array<int, 3> strides{};

        // A captured picture as the encoder reads it; a view, valid while the picture is.
        static Frame bgra(const BgraFrame& picture);
    };

    // Receives one Annex-B access unit; the bytes are valid only during the call.
    using CompletionBlock = std::function<void(std::span<const uint8_t> accessUnit)>;

    // The most we let x264 aim at, in bits per second. The capture asks for width x height x 96 bits
    // per second (about 200 Mbit/s at 1920 x 1080), close to raw pictures: a level no receiver
    // decodes and more than the link's video list can carry. Screen content up to 2560 x 1440 looks
    // clean well below this; the requested rate is kept and reported by bitRate().
    static constexpr int32_t kMaxEncoderBitRate = 20'000'000;

    // Serves the receiver's requests for the parameter sets from parameterSetRequest (none when null);
    // frames are converted to the encoder's I420 on conversionThreads threads.
    explicit TzVideoEncoder(std::shared_ptr<ParameterSetRequest> parameterSetRequest = nullptr,
                            int conversionThreads = SlicedI420Converter::defaultThreads());
    ~TzVideoEncoder();
    TzVideoEncoder(const TzVideoEncoder&) = delete;
    TzVideoEncoder& operator=(const TzVideoEncoder&) = delete;

    // Ends a running session, then starts one at width x height (truncated), framerate frames per
    // second and an average of bitrate bits per second; the peak rate allowed over any second is 1.5
    // times the average. Returns 0 when ready, -1 when the values are refused (a frame rate below 1
    // or above 1000, a size below 1 x 1 or above 16384 x 16384, a bit rate below 1) or the session
    // could not be made; the encoder then stays without a session.
    int32_t startEncodeSessionWithVideoSize(double width, double height, int32_t framerate, int32_t bitrate);
    // Encodes one frame; completionBlock (the latest given is used from now on) receives its access
    // unit before the call returns. The time stamp is not used: frames are timed by their number, in
    // a time base of 1/fps seconds.
    void encodeWithSampleBuffer(const Frame& frame, uint64_t timeStamp, CompletionBlock completionBlock);
    // Makes the next frame encoded a key frame (an IDR, SPS and PPS in front), as when the receiver
    // lost a frame that later ones refer to. Any thread.
    void requestKeyFrame();
    // Ends the session and forgets the parameter sets.
    void stopEncodeSession();
    // Ends the session (the owner is being released).
    void deallocEncoder();

    CompletionBlock completionBlock() const;
    void setCompletionBlock(CompletionBlock block);
    // The session's SPS and PPS without start codes; empty while stopped.
    std::vector<uint8_t> sps_tz() const;
    void setSps_tz(std::vector<uint8_t> sps);
    std::vector<uint8_t> pps_tz() const;
    void setPps_tz(std::vector<uint8_t> pps);
    bool lastKeyFrame() const;
    void setLastKeyFrame(bool value);

    int32_t fps() const;
    // The average bit rate asked for at start, as given.
    int32_t bitRate() const;
    // The data-rate limit that follows from bitRate(): bitRate() x 1.5 / 8 bytes per second.
    double dataRateLimit() const;
    // The average bit rate x264 aims at: bitRate() capped at kMaxEncoderBitRate.
    int32_t encoderBitRate() const;

private:
    // Closes the x264 session and its picture; the caller holds the lock.
    void endSession();
    // Converts the frame into the session's picture; false (logged) when the frame is refused.
    bool fillPicture(const Frame& frame);
    // Builds the access unit of one encoded frame (length-prefixed NAL units) and delivers it.
    void deliver(std::span<const uint8_t> encoded, bool keyFrame);

    const std::shared_ptr<ParameterSetRequest> parameterSetRequest_;
    mutable std::recursive_mutex lock_;
    x264_t* encodeSession_ = nullptr;
    std::unique_ptr<x264_picture_t> picture_;  // the session's input: the converter's I420 picture
    SlicedI420Converter converter_;
    int width_ = 0;
    int height_ = 0;
    int64_t frameCount_ = 0;
    int32_t fps_ = 0;
    int32_t bitRate_ = 0;
    int32_t encoderBitRate_ = 0;
    bool lastKeyFrame_ = false;
    // Set by requestKeyFrame, taken by the next frame encoded.
    std::atomic<bool> keyFrameRequested_{false};
    CompletionBlock completionBlock_;
    std::vector<uint8_t> sps_;
    std::vector<uint8_t> pps_;
};
