#include "Platform/WlrScreencopyCapture.h"

#include "Platform/PixelRows.h"
#include "Utils/Log.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// Each stage of a copy (the buffer's layout, the picture) takes far less on a live compositor.
constexpr int kStageTimeoutMs = 2000;
// Far beyond any output; keeps the size of a mapping in range.
constexpr uint32_t kMaxSide = 16384;

// Formats whose bytes are BGRx or BGRA, the frame's own layout.
bool isBgr(uint32_t format)
{
    return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888;
}

// Formats whose bytes are RGBx or RGBA: the frame gets a copy with red and blue swapped.
bool isRgb(uint32_t format)
{
    return format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

} // namespace

struct WlrScreencopyCapture::Buffer {
    ~Buffer()
    {
        if (buffer != nullptr)
            wl_buffer_destroy(buffer);
        if (memory != MAP_FAILED)
            munmap(memory, size);
    }

    uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    size_t size = 0;
    void* memory = MAP_FAILED;
    wl_buffer* buffer = nullptr;
};

namespace {

// The compositor's answers about one copy.
struct CopyAnswers {
    bool haveShm = false;
    uint32_t format = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    bool layoutDone = false;
    bool yInvert = false;
    bool ready = false;
    bool failed = false;
    bool finished = false;
    uint32_t version = 1;
};

void onBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride)
{
    auto* frame = static_cast<CopyAnswers*>(data);
    frame->haveShm = true;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->stride = stride;
    // Before version 3 the shared-memory layout is the only one, and nothing follows it.
    if (frame->version < 3)
        frame->layoutDone = true;
}

void onFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags)
{
    static_cast<CopyAnswers*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void onReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t)
{
    auto* frame = static_cast<CopyAnswers*>(data);
    frame->ready = frame->finished = true;
}

void onFailed(void* data, zwlr_screencopy_frame_v1*)
{
    auto* frame = static_cast<CopyAnswers*>(data);
    frame->failed = frame->finished = frame->layoutDone = true;
}

void onDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}

void onBufferDone(void* data, zwlr_screencopy_frame_v1*)
{
    static_cast<CopyAnswers*>(data)->layoutDone = true;
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {onBuffer, onFlags, onReady, onFailed,
                                                           onDamage, onDmabuf, onBufferDone};

} // namespace

std::unique_ptr<WlrScreencopyCapture> WlrScreencopyCapture::open(const std::string& socket)
{
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open(socket);
    if (!connection)
        return nullptr;
    auto* manager = static_cast<zwlr_screencopy_manager_v1*>(connection->bind(&zwlr_screencopy_manager_v1_interface, 3));
    if (manager == nullptr || !connection->has(wl_shm_interface.name)) {
        PLOG("the Wayland compositor offers no screen copy");
        if (manager != nullptr)
            zwlr_screencopy_manager_v1_destroy(manager);
        return nullptr;
    }
    return std::unique_ptr<WlrScreencopyCapture>(new WlrScreencopyCapture(std::move(connection), manager));
}

WlrScreencopyCapture::WlrScreencopyCapture(std::unique_ptr<WaylandConnection> connection,
                                           zwlr_screencopy_manager_v1* manager)
    : connection_(std::move(connection)), manager_(manager)
{
}

WlrScreencopyCapture::~WlrScreencopyCapture()
{
    // Frames made by this capture may still show a buffer: its memory stays mapped, its protocol
    // object goes with the connection.
    for (const auto& buffer : buffers_) {
        if (buffer->buffer != nullptr)
            wl_buffer_destroy(buffer->buffer);
        buffer->buffer = nullptr;
    }
    zwlr_screencopy_manager_v1_destroy(manager_);
    connection_->roundtrip();
}

std::shared_ptr<WlrScreencopyCapture::Buffer> WlrScreencopyCapture::bufferFor(uint32_t format, int width, int height,
                                                                              int stride)
{
    // A buffer of another layout goes; a frame that still shows it keeps only its memory, since its
    // protocol object must go with this connection.
    std::erase_if(buffers_, [&](const std::shared_ptr<Buffer>& buffer) {
        const bool stale = buffer->format != format || buffer->width != width || buffer->height != height
            || buffer->stride != stride;
        if (stale) {
            wl_buffer_destroy(buffer->buffer);
            buffer->buffer = nullptr;
        }
        return stale;
    });
    for (const auto& buffer : buffers_) {
        if (buffer.use_count() == 1)
            return buffer;
    }
    if (buffers_.size() >= kMaxBuffers) {
        wl_buffer_destroy(buffers_.front()->buffer);
        buffers_.front()->buffer = nullptr;
        buffers_.erase(buffers_.begin());
    }
    auto made = std::make_shared<Buffer>();
    made->format = format;
    made->width = width;
    made->height = height;
    made->stride = stride;
    made->size = static_cast<size_t>(stride) * static_cast<size_t>(height);
    const int fd = memfd_create("pelkor-screencopy", MFD_CLOEXEC);
    if (fd < 0) {
        PLOG_ERRNO("screen copy: no shared memory");
        return nullptr;
    }
    if (ftruncate(fd, static_cast<off_t>(made->size)) != 0
        || (made->memory = mmap(nullptr, made->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
        PLOG_ERRNO("screen copy: shared memory of %zu bytes", made->size);
        close(fd);
        return nullptr;
    }
    auto* shm = static_cast<wl_shm*>(connection_->bind(&wl_shm_interface, 1));
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(made->size));
    made->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
    wl_shm_pool_destroy(pool);
    wl_shm_destroy(shm);
    close(fd);
    buffers_.push_back(made);
    return made;
}

WlrScreencopyCapture::CaptureResult WlrScreencopyCapture::capture(uint32_t outputName, BgraFrame& frame,
                                                                  bool withCursor)
{
    const WaylandConnection::Output* output = connection_->output(outputName);
    if (output == nullptr)
        return CaptureResult::kNoSuchOutput;
    // The frame lets the buffer it showed go, so that buffer can take this picture.
    frame.clear();
    CopyAnswers answers;
    zwlr_screencopy_frame_v1* copy =
        zwlr_screencopy_manager_v1_capture_output(manager_, withCursor ? 1 : 0, output->proxy);
    answers.version = zwlr_screencopy_frame_v1_get_version(copy);
    zwlr_screencopy_frame_v1_add_listener(copy, &kFrameListener, &answers);
    const auto fail = [&](const char* why) {
        zwlr_screencopy_frame_v1_destroy(copy);
        PLOG("screen copy failed: %s", why);
        return CaptureResult::kFailed;
    };
    if (!connection_->dispatchUntil(answers.layoutDone, kStageTimeoutMs))
        return fail("the compositor did not describe the picture");
    if (answers.failed || !answers.haveShm)
        return fail("the compositor offers no shared-memory picture");
    if (answers.width == 0 || answers.height == 0 || answers.width > kMaxSide || answers.height > kMaxSide
        || answers.stride < answers.width * 4 || answers.stride > kMaxSide * 4
        || (!isBgr(answers.format) && !isRgb(answers.format)))
        return fail("a picture layout this capture does not read");
    const int width = static_cast<int>(answers.width);
    const int height = static_cast<int>(answers.height);
    const int stride = static_cast<int>(answers.stride);
    const std::shared_ptr<Buffer> buffer = bufferFor(answers.format, width, height, stride);
    if (!buffer)
        return fail("no buffer");
    zwlr_screencopy_frame_v1_copy(copy, buffer->buffer);
    if (!connection_->dispatchUntil(answers.finished, kStageTimeoutMs) || !answers.ready)
        return fail(answers.failed ? "the compositor refused the copy" : "the compositor did not answer");
    zwlr_screencopy_frame_v1_destroy(copy);
    auto* bytes = static_cast<uint8_t*>(buffer->memory);
    if (isBgr(answers.format) && !answers.yInvert) {
        frame.show(width, height, stride, {bytes, buffer->size}, buffer);
    } else {
        PixelRows::copy(bytes, width, height, stride, isRgb(answers.format), answers.yInvert, frame);
    }
    return CaptureResult::kOk;
}
