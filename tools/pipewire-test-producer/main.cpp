// pipewire-test-producer: a PipeWire video source, as a desktop's screen cast offers one: a picture of
// one colour with a white square that moves along its top edge (so every frame differs, and the
// centre keeps the colour), in BGRx at the asked size and rate. It drives its own timing.
//
//   pipewire-test-producer --size WxH --colour RRGGBB [--fps N]
//
// Prints "node <id>" on standard output once the node exists; runs until killed (or its parent ends).

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSquare = 32;

struct Producer {
    pw_main_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_source* timer = nullptr;
    int width = 640;
    int height = 360;
    int fps = 30;
    uint32_t colour = 0;
    uint64_t frame = 0;
    bool announced = false;
};

void paint(Producer& producer, uint8_t* bytes, int stride)
{
    const int travel = std::max(1, producer.width - kSquare);
    const int left = static_cast<int>((producer.frame * 8) % static_cast<uint64_t>(travel));
    for (int y = 0; y < producer.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bytes + static_cast<size_t>(y) * static_cast<size_t>(stride));
        std::fill(row, row + producer.width, producer.colour);
        if (y < kSquare)
            std::fill(row + left, row + std::min(producer.width, left + kSquare), 0xffffffu);
    }
}

void onProcess(void* data)
{
    auto* producer = static_cast<Producer*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(producer->stream);
    if (buffer == nullptr)
        return;
    spa_data& plane = buffer->buffer->datas[0];
    const int stride = producer->width * 4;
    if (plane.data != nullptr && plane.maxsize >= static_cast<uint32_t>(stride * producer->height)) {
        paint(*producer, static_cast<uint8_t*>(plane.data), stride);
        plane.chunk->offset = 0;
        plane.chunk->stride = stride;
        plane.chunk->size = static_cast<uint32_t>(stride * producer->height);
        ++producer->frame;
    }
    pw_stream_queue_buffer(producer->stream, buffer);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* producer = static_cast<Producer*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
        std::fprintf(stderr, "stream error: %s\n", error ? error : "");
        pw_main_loop_quit(producer->loop);
        return;
    }
    if (!producer->announced && state >= PW_STREAM_STATE_PAUSED) {
        std::printf("node %u\n", pw_stream_get_node_id(producer->stream));
        std::fflush(stdout);
        producer->announced = true;
    }
    pw_loop_update_timer(pw_main_loop_get_loop(producer->loop), producer->timer, nullptr, nullptr, false);
    if (state == PW_STREAM_STATE_STREAMING) {
        timespec first{0, 1};
        timespec interval{0, 1'000'000'000L / producer->fps};
        pw_loop_update_timer(pw_main_loop_get_loop(producer->loop), producer->timer, &first, &interval, false);
    }
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* producer = static_cast<Producer*>(data);
    if (param == nullptr || id != SPA_PARAM_Format)
        return;
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const int size = producer->width * producer->height * 4;
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(size), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(producer->width * 4), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))))};
    pw_stream_update_params(producer->stream, params, 1);
}

void onTimer(void* data, uint64_t)
{
    pw_stream_trigger_process(static_cast<Producer*>(data)->stream);
}

bool parse(int argc, char** argv, Producer& producer)
{
    bool haveColour = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0) {
            if (std::sscanf(argv[i + 1], "%dx%d", &producer.width, &producer.height) != 2)
                return false;
        } else if (std::strcmp(argv[i], "--colour") == 0) {
            producer.colour = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 16)) & 0xffffffu;
            haveColour = true;
        } else if (std::strcmp(argv[i], "--fps") == 0) {
            producer.fps = std::atoi(argv[i + 1]);
        } else {
            return false;
        }
    }
    return haveColour && producer.width >= 16 && producer.height >= 16 && producer.width <= 8192
        && producer.height <= 8192 && producer.fps >= 1 && producer.fps <= 240;
}

} // namespace

int main(int argc, char** argv)
{
    Producer producer;
    if (!parse(argc, argv, producer)) {
        std::fprintf(stderr, "usage: pipewire-test-producer --size WxH --colour RRGGBB [--fps N]\n");
        return 2;
    }
    // Ends with the stand-in that started it, even when that one is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    pw_init(&argc, &argv);
    producer.loop = pw_main_loop_new(nullptr);
    pw_loop* loop = pw_main_loop_get_loop(producer.loop);
    producer.timer = pw_loop_add_timer(loop, onTimer, &producer);
    const auto quit = [](void* data, int) { pw_main_loop_quit(static_cast<pw_main_loop*>(data)); };
    pw_loop_add_signal(loop, SIGINT, quit, producer.loop);
    pw_loop_add_signal(loop, SIGTERM, quit, producer.loop);
    producer.stream = pw_stream_new_simple(
        loop, "pelkor-test-screen",
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                          "Source", PW_KEY_MEDIA_ROLE, "Screen", nullptr),
        [] {
            static pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = onStateChanged;
            events.param_changed = onParamChanged;
            events.process = onProcess;
            return &events;
        }(),
        &producer);
    uint8_t bytes[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(producer.width), static_cast<uint32_t>(producer.height));
    const spa_fraction rate = SPA_FRACTION(static_cast<uint32_t>(producer.fps), 1);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)))};
    if (pw_stream_connect(producer.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1)
        < 0) {
        std::fprintf(stderr, "no PipeWire server\n");
        return 1;
    }
    pw_main_loop_run(producer.loop);
    pw_stream_destroy(producer.stream);
    pw_main_loop_destroy(producer.loop);
    pw_deinit();
    return 0;
}
