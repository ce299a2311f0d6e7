#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/WaylandConnection.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct zwlr_screencopy_manager_v1;

// Captures a whole output of a wlroots compositor through its screen copy protocol, into shared
// memory: the capture road of wlroots desktops, which need no portal for it. One thread at a time.
class WlrScreencopyCapture {
public:
    enum class CaptureResult {
        kOk,
        kNoSuchOutput,
        kFailed,
    };

    // Null (logged) when no compositor answers on `socket` ($WAYLAND_DISPLAY when empty) or it
    // offers no screen copy.
    static std::unique_ptr<WlrScreencopyCapture> open(const std::string& socket = {});
    ~WlrScreencopyCapture();
    WlrScreencopyCapture(const WlrScreencopyCapture&) = delete;
    WlrScreencopyCapture& operator=(const WlrScreencopyCapture&) = delete;

    // The outputs now, the first one the main display.
    std::vector<WaylandConnection::Output> outputs() const { return connection_->outputs(); }
    WaylandConnection& connection() { return *connection_; }

    // The picture of output `outputName` (0: the first) into `frame`, with the cursor drawn in when
    // asked. The frame shows the shared memory in place where its layout is ours (BGRx), and the
    // memory is not written again while the frame holds it.
    CaptureResult capture(uint32_t outputName, BgraFrame& frame, bool withCursor);

private:
    struct Buffer;

    WlrScreencopyCapture(std::unique_ptr<WaylandConnection> connection, zwlr_screencopy_manager_v1* manager);
    // A buffer of that layout that no frame holds now; made when there is none.
    std::shared_ptr<Buffer> bufferFor(uint32_t format, int width, int height, int stride);

    std::unique_ptr<WaylandConnection> connection_;
    zwlr_screencopy_manager_v1* manager_ = nullptr;
    // A frame may still hold one while the next is captured; more than this and the oldest is dropped.
    static constexpr size_t kMaxBuffers = 3;
    std::vector<std::shared_ptr<Buffer>> buffers_;
};
