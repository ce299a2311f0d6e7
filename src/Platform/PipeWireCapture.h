#pragma once

#include "Platform/BgraFrame.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct pw_buffer;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_thread_loop;
struct spa_pod;

// Receives one PipeWire video stream (a portal's screen or window) on PipeWire's own thread and keeps
// its latest picture, which a capture takes when it wants one. Pictures in BGRx or BGRA are shown in
// place, without a copy: the stream's buffer stays out of the stream while a frame holds it, and goes
// back once it is let go. RGBx and RGBA pictures, and those with a cursor to draw, are copied.
class PipeWireCapture {
public:
    enum class Result {
        kFrame,
        kNoFrame,
        kEnded,
    };

    // Connects through `fd` (a portal's PipeWire remote, taken over; -1: the user's PipeWire server)
    // to node `nodeId`; null, logged, when PipeWire cannot be reached.
    static std::unique_ptr<PipeWireCapture> open(int fd, uint32_t nodeId);
    ~PipeWireCapture();
    PipeWireCapture(const PipeWireCapture&) = delete;
    PipeWireCapture& operator=(const PipeWireCapture&) = delete;

    // The latest picture into `frame`, with the cursor drawn in where the stream sends it apart.
    // Any thread, one at a time.
    Result latest(BgraFrame& frame);
    // Pictures the stream delivered so far.
    uint64_t framesReceived() const { return framesReceived_.load(); }

    // PipeWire's thread, inside the stream's events.
    struct Stream;

private:
    PipeWireCapture() = default;

    std::shared_ptr<Stream> stream_;
    std::atomic<uint64_t> framesReceived_{0};
    friend struct Stream;
};
