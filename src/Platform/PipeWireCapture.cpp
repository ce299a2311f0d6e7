#include "Platform/PipeWireCapture.h"

#include "Platform/PixelRows.h"
#include "Platform/X11Cursor.h"
#include "Utils/Log.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

// Far beyond any screen; bounds what a stream may announce.
constexpr int kMaxSide = 16384;
// Cursor pictures are small; a larger one is not drawn.
constexpr int kMaxCursorSide = 512;
// The stream keeps a few buffers in flight; one may be held by a frame while others fill.
constexpr int kBuffers = 4;

bool isBgr(uint32_t format)
{
    return format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA;
}

bool isRgb(uint32_t format)
{
    return format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

} // namespace

// A buffer taken out of the stream for the latest picture; back into the stream when let go.
struct Held {
    std::weak_ptr<PipeWireCapture::Stream> stream;
    pw_buffer* buffer = nullptr;
    uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    uint8_t* bytes = nullptr;
    size_t size = 0;
    ~Held();
};

struct PipeWireCapture::Stream {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    spa_hook coreListener{};
    PipeWireCapture* owner = nullptr;

    // PipeWire's thread; the capture reads them under `mutex`.
    std::mutex mutex;
    spa_video_info_raw format{};
    std::shared_ptr<Held> latest;
    bool ended = false;
    bool started = false;
    // The cursor as the stream's metadata last gave it.
    BgraFrame cursor;
    int cursorX = 0;
    int cursorY = 0;
    int cursorHotX = 0;
    int cursorHotY = 0;
    bool cursorVisible = false;

    void onStateChanged(pw_stream_state state, const char* error);
    void onParamChanged(uint32_t id, const spa_pod* param);
    void onProcess();
    void readCursor(spa_buffer* buffer);
    void requeue(pw_buffer* buffer);
};

Held::~Held()
{
    if (auto owner = stream.lock())
        owner->requeue(buffer);
}

void PipeWireCapture::Stream::requeue(pw_buffer* buffer)
{
    // The loop's lock is recursive: on PipeWire's own thread (a newer picture replacing this one) it
    // is already held.
    pw_thread_loop_lock(loop);
    if (stream != nullptr)
        pw_stream_queue_buffer(stream, buffer);
    pw_thread_loop_unlock(loop);
}

void PipeWireCapture::Stream::onStateChanged(pw_stream_state state, const char* error)
{
    std::lock_guard lock(mutex);
    if (state == PW_STREAM_STATE_STREAMING)
        started = true;
    if (state == PW_STREAM_STATE_ERROR || (state == PW_STREAM_STATE_UNCONNECTED && started)) {
        PLOG("screen stream ended%s%s", error ? ": " : "", error ? error : "");
        ended = true;
    }
}

void PipeWireCapture::Stream::onParamChanged(uint32_t id, const spa_pod* param)
{
    if (param == nullptr || id != SPA_PARAM_Format)
        return;
    spa_video_info_raw raw{};
    if (spa_format_video_raw_parse(param, &raw) < 0)
        return;
    if (raw.size.width < 1 || raw.size.height < 1 || raw.size.width > kMaxSide || raw.size.height > kMaxSide
        || (!isBgr(raw.format) && !isRgb(raw.format))) {
        PLOG("screen stream: a picture format this capture does not read (%u, %ux%u)", raw.format, raw.size.width,
             raw.size.height);
        std::lock_guard lock(mutex);
        ended = true;
        return;
    }
    {
        std::lock_guard lock(mutex);
        format = raw;
    }
    PLOG("screen stream: %ux%u, format %u", raw.size.width, raw.size.height, raw.format);
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kBuffers, 2, 16), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    const int cursorMetaSize =
        sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kMaxCursorSide * kMaxCursorSide * 4;
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize, static_cast<int>(sizeof(spa_meta_cursor)), cursorMetaSize)));
    pw_stream_update_params(stream, params, 3);
}

void PipeWireCapture::Stream::readCursor(spa_buffer* buffer)
{
    auto* meta = static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (meta == nullptr || !spa_meta_cursor_is_valid(meta))
        return;
    cursorX = meta->position.x;
    cursorY = meta->position.y;
    cursorHotX = meta->hotspot.x;
    cursorHotY = meta->hotspot.y;
    if (meta->bitmap_offset < sizeof(spa_meta_cursor))
        return;
    const auto* bitmap = SPA_PTROFF(meta, meta->bitmap_offset, const spa_meta_bitmap);
    if (!spa_meta_bitmap_is_valid(bitmap))
        return;
    const int width = static_cast<int>(bitmap->size.width);
    const int height = static_cast<int>(bitmap->size.height);
    cursorVisible = bitmap->offset >= sizeof(spa_meta_bitmap) && width > 0 && height > 0 && width <= kMaxCursorSide
        && height <= kMaxCursorSide && bitmap->stride >= width * 4 && (isBgr(bitmap->format) || isRgb(bitmap->format));
    if (cursorVisible) {
        PixelRows::copy(SPA_PTROFF(bitmap, bitmap->offset, const uint8_t), width, height, bitmap->stride,
                        isRgb(bitmap->format), false, cursor);
    }
}

void PipeWireCapture::Stream::onProcess()
{
    // Only the newest picture counts: older ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream)) {
        if (newest != nullptr)
            pw_stream_queue_buffer(stream, newest);
        newest = buffer;
    }
    if (newest == nullptr)
        return;
    spa_buffer* buffer = newest->buffer;
    std::unique_lock lock(mutex);
    readCursor(buffer);
    const spa_data& data = buffer->datas[0];
    const int width = static_cast<int>(format.size.width);
    const int height = static_cast<int>(format.size.height);
    const int stride = data.chunk->stride > 0 ? data.chunk->stride : width * 4;
    const size_t offset = data.chunk->offset % std::max<uint32_t>(data.maxsize, 1);
    // Only pictures whose every row lies in the mapped memory count; a cursor-only update has none.
    if (data.data == nullptr || width < 1 || stride < width * 4
        || offset + static_cast<size_t>(stride) * static_cast<size_t>(height) > data.maxsize
        || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0 || data.chunk->size == 0) {
        lock.unlock();
        pw_stream_queue_buffer(stream, newest);
        return;
    }
    auto held = std::make_shared<Held>();
    held->buffer = newest;
    held->format = format.format;
    held->width = width;
    held->height = height;
    held->stride = stride;
    held->bytes = static_cast<uint8_t*>(data.data) + offset;
    held->size = static_cast<size_t>(stride) * static_cast<size_t>(height);
    std::shared_ptr<Held> replaced = std::move(latest);
    latest = std::move(held);
    owner->framesReceived_.fetch_add(1);
    lock.unlock();
    // Back into the stream here, unless a frame still shows it.
    replaced.reset();
}

std::unique_ptr<PipeWireCapture> PipeWireCapture::open(int fd, uint32_t nodeId)
{
    initPipeWire();
    std::unique_ptr<PipeWireCapture> capture(new PipeWireCapture());
    auto stream = std::make_shared<Stream>();
    stream->owner = capture.get();
    capture->stream_ = stream;
    Stream& s = *stream;
    s.loop = pw_thread_loop_new("pelkor.pipewire", nullptr);
    if (s.loop == nullptr) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    if (s.context == nullptr || pw_thread_loop_start(s.loop) < 0) {
        if (fd >= 0)
            close(fd);
        PLOG("PipeWire could not start");
        return nullptr;
    }
    pw_thread_loop_lock(s.loop);
    s.core = fd >= 0 ? pw_context_connect_fd(s.context, fd, nullptr, 0) : pw_context_connect(s.context, nullptr, 0);
    if (s.core == nullptr) {
        pw_thread_loop_unlock(s.loop);
        PLOG_ERRNO("no PipeWire server answers");
        return nullptr;
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = [](void* data, uint32_t id, int, int res, const char* message) {
            auto* self = static_cast<Stream*>(data);
            if (id != PW_ID_CORE || res != -EPIPE)
                return;
            PLOG("the PipeWire server went away: %s", message ? message : "");
            std::lock_guard lock(self->mutex);
            self->ended = true;
        };
        return events;
    }();
    pw_core_add_listener(s.core, &s.coreListener, &coreEvents, &s);
    s.stream = pw_stream_new(s.core, "pelkor-capture",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                               PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
            static_cast<Stream*>(data)->onStateChanged(state, error);
        };
        events.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
            static_cast<Stream*>(data)->onParamChanged(id, param);
        };
        events.process = [](void* data) { static_cast<Stream*>(data)->onProcess(); };
        return events;
    }();
    pw_stream_add_listener(s.stream, &s.streamListener, &streamEvents, &s);
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_rectangle smallest = SPA_RECTANGLE(1, 1);
    const spa_rectangle largest = SPA_RECTANGLE(kMaxSide, kMaxSide);
    const spa_rectangle usual = SPA_RECTANGLE(1920, 1080);
    const spa_fraction noRate = SPA_FRACTION(0, 1);
    const spa_fraction usualRate = SPA_FRACTION(30, 1);
    const spa_fraction highestRate = SPA_FRACTION(360, 1);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&usual, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&usualRate, &noRate, &highestRate)))};
    const int connected = pw_stream_connect(
        s.stream, PW_DIRECTION_INPUT, nodeId,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(s.loop);
    if (connected < 0) {
        PLOG("the screen stream of node %u could not be connected", nodeId);
        return nullptr;
    }
    return capture;
}

PipeWireCapture::~PipeWireCapture()
{
    if (!stream_)
        return;
    Stream& s = *stream_;
    if (s.loop != nullptr)
        pw_thread_loop_stop(s.loop);
    // PipeWire's thread has ended: what it left is freed here, the held picture first.
    {
        std::lock_guard lock(s.mutex);
        s.latest.reset();
    }
    if (s.stream != nullptr) {
        pw_stream_destroy(s.stream);
        s.stream = nullptr;
    }
    if (s.core != nullptr)
        pw_core_disconnect(s.core);
    if (s.context != nullptr)
        pw_context_destroy(s.context);
    if (s.loop != nullptr)
        pw_thread_loop_destroy(s.loop);
}

PipeWireCapture::Result PipeWireCapture::latest(BgraFrame& frame)
{
    Stream& s = *stream_;
    std::shared_ptr<Held> held;
    BgraFrame cursor;
    int cursorLeft = 0;
    int cursorTop = 0;
    {
        std::lock_guard lock(s.mutex);
        if (s.ended)
            return Result::kEnded;
        held = s.latest;
        if (s.cursorVisible) {
            cursor = s.cursor;
            cursorLeft = s.cursorX - s.cursorHotX;
            cursorTop = s.cursorY - s.cursorHotY;
        }
    }
    if (!held)
        return Result::kNoFrame;
    // The buffer is the stream's own memory: a cursor is drawn into a copy, never into it.
    if (isBgr(held->format) && cursor.empty()) {
        frame.show(held->width, held->height, held->stride, {held->bytes, held->size}, held);
    } else {
        PixelRows::copy(held->bytes, held->width, held->height, held->stride, isRgb(held->format), false, frame);
        if (!cursor.empty())
            X11Cursor::draw(cursor, frame, cursorLeft, cursorTop);
    }
    return Result::kFrame;
}
