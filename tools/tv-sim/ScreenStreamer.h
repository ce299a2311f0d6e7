#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

// Streams the TV's own screen: TestPattern frames encoded as H.264 (4-byte start codes, parameter sets
// in front of each key frame), one access unit per call of the send function, paced at the frame
// rate, from a thread of its own. A stream runs from start() until stop() or the next start().
//
// Any thread. Each frame is sent under the streamer's lock, so once stop() returns no frame of the
// stream goes out; stop() may therefore wait for a send under way, which the link's shutdown frees.
class ScreenStreamer {
public:
    struct Screen {
        int width = 1280;
        int height = 720;
        int fps = 30;
        // Every frame is frame 0 (TestPattern::kStillFrame), so a picture shown at any moment can be
        // compared with that one frame.
        bool still = false;
    };
    // One Annex-B access unit; true when it went out.
    using Send = std::function<bool(std::span<const uint8_t> accessUnit)>;

    // Sizes and rates the encoder takes: even sides from 16 to 4096, 1 to 120 frames per second.
    static bool valid(const Screen& screen);

    explicit ScreenStreamer(Send send);
    ~ScreenStreamer();
    ScreenStreamer(const ScreenStreamer&) = delete;
    ScreenStreamer& operator=(const ScreenStreamer&) = delete;

    // Starts a stream of the screen from frame 0, ending the one that runs; false (logged) when the
    // screen is not valid.
    bool start(const Screen& screen);
    // Ends the stream; the frames it sent, nullopt when none ran.
    std::optional<uint64_t> stop();
    // Ends any stream and joins the thread; start() then refuses. Idempotent.
    void shutdown();

    bool streaming() const;
    // Frames sent by the running stream, or by the last one when none runs.
    uint64_t framesSent() const;

private:
    void run();
    // One stream until it is replaced or stopped; on the streaming thread, with the lock not held.
    void stream(uint64_t generation, const Screen& screen);

    const Send send_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Screen screen_;
    // Bumped by every start and stop, so a stream can tell it has been replaced.
    uint64_t generation_ = 0;
    bool active_ = false;
    bool shutdown_ = false;
    uint64_t framesSent_ = 0;
    std::thread thread_;
};
