// Speed of the cast's video road at 1920 x 1080:
//   (a) a moving synthetic picture through TzVideoEncoder (BGRA conversion and H.264 encoding),
//   (b) the same for captures of a private Xvfb screen with moving content (skipped without Xvfb),
//   (c) at 30 frames per second, from the moment a frame is generated or captured to the moment the
//       TV peer (tv-sim, decoding) has its picture, through TcpClient over loopback.
// The encoder gets the bit rate the capture asks for: width x height x 3 x 4 x 8 bits per second.
//   bench-encode [seconds per case, default 5]
#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Platform/BgraFrame.h"
#include "Platform/X11Display.h"
#include "Platform/X11ScreenCapture.h"
#include "Socket/MessageType.h"
#include "Socket/TcpClient.h"
#include "Socket/TcpNativeInfo.h"
#include "tv-sim/TvSim.h"
#include "tv-sim/WallClock.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;

// What the capture asks the encoder for.
int32_t castBitRate()
{
    return static_cast<int32_t>(double(kWidth) * double(kHeight) * 3.0 * 4.0 * 8.0);
}

double millisecondsSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

struct Spread {
    double median = 0;
    double p95 = 0;
};

// Nearest-rank percentiles.
Spread spread(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto rank = [&](double share) {
        const auto at = static_cast<size_t>(share * double(values.size()) + 0.999999);
        return values[std::clamp<size_t>(at, 1, values.size()) - 1];
    };
    return {rank(0.5), rank(0.95)};
}

// One frame per call, numbered from 0; null when no frame could be had.
using FrameSource = std::function<const BgraFrame*(int index)>;

// A desktop-like picture: a fixed backdrop of gradients with a box sliding across it and a band
// that changes every frame. Only what moves is redrawn, so a frame costs little beside encoding it.
class SyntheticScreen {
public:
    SyntheticScreen()
    {
        backdrop_.resize(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* pixel = backdrop_.pixel(x, y);
                pixel[0] = static_cast<uint8_t>(x * 255 / kWidth);
                pixel[1] = static_cast<uint8_t>(y * 255 / kHeight);
                pixel[2] = static_cast<uint8_t>((x / 240 + y / 135) % 2 ? 200 : 60);
                pixel[3] = 0xFF;
            }
        }
        frame_ = backdrop_;
    }

    const BgraFrame& draw(int index)
    {
        restore(box_);
        box_ = {(index * 24) % (kWidth - kBox), (index * 12) % (kHeight - kBox - kBand)};
        fill(box_.x, box_.y, kBox, kBox, static_cast<uint8_t>(index * 7));
        fill(0, kHeight - kBand, kWidth, kBand, static_cast<uint8_t>(index * 3));
        return frame_;
    }

private:
    static constexpr int kBox = 320;
    static constexpr int kBand = 48;
    struct Corner {
        int x = 0;
        int y = 0;
    };

    void restore(Corner box)
    {
        for (int y = box.y; y < box.y + kBox; ++y)
            std::memcpy(frame_.pixel(box.x, y), backdrop_.pixel(box.x, y), size_t(kBox) * 4);
    }
    void fill(int left, int top, int width, int height, uint8_t shade)
    {
        for (int y = top; y < top + height; ++y) {
            for (int x = left; x < left + width; ++x) {
                uint8_t* pixel = frame_.pixel(x, y);
                pixel[0] = shade;
                pixel[1] = static_cast<uint8_t>(255 - shade);
                pixel[2] = static_cast<uint8_t>(shade ^ x);
            }
        }
    }

    BgraFrame backdrop_;
    BgraFrame frame_;
    Corner box_;
};

// A private Xvfb of the bench's size. It takes the first free display number and tells it through
// -displayfd, which it writes once it accepts clients.
class XvfbServer {
public:
    ~XvfbServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    // False when Xvfb is not installed or never said it was ready.
    bool start()
    {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return false;
        const std::string geometry = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
        std::vector<std::string> args{"Xvfb", "-displayfd", "3", "-screen", "0", geometry, "-nolisten", "tcp",
                                      "-noreset"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
        for (int fd : {0, 1, 2})
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ready[1]);
        if (spawned != 0) {
            pid_ = -1;
            ::close(ready[0]);
            return false;
        }
        std::string number;
        char chunk[16];
        pollfd readable{ready[0], POLLIN, 0};
        while (number.find('\n') == std::string::npos && poll(&readable, 1, 20'000) > 0) {
            const ssize_t got = ::read(ready[0], chunk, sizeof chunk);
            if (got <= 0)
                break;
            number.append(chunk, static_cast<size_t>(got));
        }
        ::close(ready[0]);
        if (number.find('\n') == std::string::npos)
            return false;
        char display[16];
        std::snprintf(display, sizeof display, ":%d", std::atoi(number.c_str()));
        name_ = display;
        return true;
    }

    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Moving content on the Xvfb screen, drawn through the capture's own connection: a few fixed
// "windows", a box sliding across and a band that changes colour every frame.
class XvfbScene {
public:
    explicit XvfbScene(X11Display& display)
        : display_(display.handle()), root_(display.root()), gc_(XCreateGC(display_, root_, 0, nullptr))
    {
    }
    ~XvfbScene() { XFreeGC(display_, gc_); }
    XvfbScene(const XvfbScene&) = delete;
    XvfbScene& operator=(const XvfbScene&) = delete;

    void draw(int index)
    {
        fill(0x203040, 0, 0, kWidth, kHeight);
        for (int window = 0; window < 6; ++window)
            fill(0x808080u + 0x101010u * unsigned(window), 80 + window * 290, 100 + window * 60, 600, 500);
        fill(0xE0C000u ^ unsigned(index * 0x010203), (index * 24) % (kWidth - 320), (index * 12) % (kHeight - 400),
             320, 320);
        fill(unsigned(index * 0x050301) & 0xFFFFFFu, 0, kHeight - 48, kWidth, 48);
        XSync(display_, False);
    }

private:
    void fill(unsigned long colour, int x, int y, unsigned width, unsigned height)
    {
        XSetForeground(display_, gc_, colour);
        XFillRectangle(display_, root_, gc_, x, y, width, height);
    }

    Display* display_;
    Window root_;
    GC gc_;
};

// The Xvfb screen, its capture and its moving content, ready to serve frames.
struct XvfbCapture {
    XvfbServer server;
    std::unique_ptr<X11Display> display;
    std::unique_ptr<X11ScreenCapture> capture;
    std::unique_ptr<XvfbScene> scene;
    BgraFrame frame;

    // nullopt with the reason when the screen cannot be captured.
    std::optional<std::string> start()
    {
        if (!server.start())
            return "Xvfb is not installed or did not start";
        display = X11Display::open(server.name());
        if (!display)
            return "cannot open " + server.name();
        capture = std::make_unique<X11ScreenCapture>(*display);
        scene = std::make_unique<XvfbScene>(*display);
        return std::nullopt;
    }

    FrameSource source()
    {
        return [this](int index) -> const BgraFrame* {
            scene->draw(index);
            if (capture->capture(0, frame) != X11ScreenCapture::CaptureResult::kOk || frame.width != kWidth ||
                frame.height != kHeight)
                return nullptr;
            return &frame;
        };
    }
};

struct EncodeFigures {
    int frames = 0;
    double framesPerSecond = 0;
    Spread encodeMs;
    Spread sourceMs;
    double kilobytesPerFrame = 0;
};

// Frames as fast as the encoder takes them; the rate counts conversion and encoding only.
std::optional<EncodeFigures> encodeFlatOut(const FrameSource& source, double seconds)
{
    TzVideoEncoder encoder;
    if (encoder.startEncodeSessionWithVideoSize(kWidth, kHeight, kFps, castBitRate()) != 0)
        return std::nullopt;
    std::vector<double> encodeMs;
    std::vector<double> sourceMs;
    double encodingMs = 0;
    size_t bytes = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (int index = 0; Clock::now() < end; ++index) {
        const auto asked = Clock::now();
        const BgraFrame* frame = source(index);
        if (!frame)
            return std::nullopt;
        const auto handed = Clock::now();
        std::optional<Clock::time_point> delivered;
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(*frame), 0, [&](std::span<const uint8_t> accessUnit) {
            delivered = Clock::now();
            bytes += accessUnit.size();
        });
        const auto done = Clock::now();
        sourceMs.push_back(millisecondsSince(asked, handed));
        if (delivered)
            encodeMs.push_back(millisecondsSince(handed, *delivered));
        encodingMs += millisecondsSince(handed, done);
    }
    encoder.stopEncodeSession();
    const auto frames = static_cast<int>(sourceMs.size());
    return EncodeFigures{.frames = frames,
                         .framesPerSecond = frames / (encodingMs / 1000),
                         .encodeMs = spread(encodeMs),
                         .sourceMs = spread(sourceMs),
                         .kilobytesPerFrame = double(bytes) / 1024 / std::max<size_t>(encodeMs.size(), 1)};
}

int ignoreEvents(void*, TcpClient*, int, const char*, const uint8_t*, uint64_t, uint32_t)
{
    return 0;
}

struct EndToEndFigures {
    int sent = 0;
    size_t decoded = 0;
    size_t errors = 0;
    int late = 0;
    Spread captureToDecodeMs;
    Spread queueToDecodeMs;
};

// At kFps, paced by the clock: each frame is made, encoded and queued on the client; the TV peer
// decodes what arrives. Frames are matched by their number in the stream.
std::optional<EndToEndFigures> endToEnd(const FrameSource& source, double seconds)
{
    TvSim::Options options;
    options.keepPayloads = false;
    options.decodeVideo = true;
    TvSim tv(options);
    TcpNativeInfo info{nullptr, nullptr, nullptr, ignoreEvents, nullptr};
    TcpClient client(&info);
    TzVideoEncoder encoder;
    if (!tv.start() || !client.connect("127.0.0.1", tv.port()) || !tv.waitForConnection() ||
        encoder.startEncodeSessionWithVideoSize(kWidth, kHeight, kFps, castBitRate()) != 0)
        return std::nullopt;

    EndToEndFigures figures;
    const int frames = static_cast<int>(seconds * kFps);
    std::vector<uint64_t> madeAt;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kFps));
    const auto start = Clock::now();
    for (int index = 0; index < frames; ++index) {
        const auto due = start + index * period;
        if (Clock::now() > due + period)
            ++figures.late;
        std::this_thread::sleep_until(due);
        madeAt.push_back(wallMicros());
        const BgraFrame* frame = source(index);
        if (!frame)
            return std::nullopt;
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(*frame), 0, [&](std::span<const uint8_t> accessUnit) {
            client.send(kMsgVideoFrame, accessUnit.data(), static_cast<int>(accessUnit.size()));
        });
        ++figures.sent;
    }
    encoder.stopEncodeSession();
    tv.waitForDecodedFrames(static_cast<size_t>(frames), std::chrono::seconds(10));
    client.disconnect(0);
    tv.stop();

    std::vector<double> captureToDecode;
    std::vector<double> queueToDecode;
    for (const auto& picture : tv.decodedFrames()) {
        if (picture.index >= madeAt.size())
            continue;
        captureToDecode.push_back(double(picture.decodedMicros - madeAt[picture.index]) / 1000);
        queueToDecode.push_back(double(picture.latencyMicros()) / 1000);
    }
    figures.decoded = captureToDecode.size();
    figures.errors = tv.decodeErrors();
    figures.captureToDecodeMs = spread(captureToDecode);
    figures.queueToDecodeMs = spread(queueToDecode);
    return figures;
}

void printEncodeRow(const char* name, const std::optional<EncodeFigures>& figures)
{
    if (!figures) {
        std::printf("%-20s failed\n", name);
        return;
    }
    std::printf("%-20s %7d %9.1f %10.2f %8.2f %11.2f %9.1f\n", name, figures->frames, figures->framesPerSecond,
                figures->encodeMs.median, figures->encodeMs.p95, figures->sourceMs.median, figures->kilobytesPerFrame);
}

void printEndToEndRow(const char* name, const std::optional<EndToEndFigures>& figures)
{
    if (!figures) {
        std::printf("%-20s failed\n", name);
        return;
    }
    std::printf("%-20s %5d %8zu %7zu %5d %10.2f %8.2f %13.2f %8.2f\n", name, figures->sent, figures->decoded,
                figures->errors, figures->late, figures->captureToDecodeMs.median, figures->captureToDecodeMs.p95,
                figures->queueToDecodeMs.median, figures->queueToDecodeMs.p95);
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: bench-encode [seconds per case]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    {
        TzVideoEncoder probe;
        probe.startEncodeSessionWithVideoSize(kWidth, kHeight, kFps, castBitRate());
        std::printf("%dx%d BGRA at %d fps; bit rate asked %d b/s (peak %.0f B/s), x264 aims at %d b/s; %u cores\n",
                    kWidth, kHeight, kFps, castBitRate(), probe.dataRateLimit(), probe.encoderBitRate(),
                    std::thread::hardware_concurrency());
    }

    SyntheticScreen synthetic;
    const FrameSource generated = [&](int index) { return &synthetic.draw(index); };
    XvfbCapture xvfb;
    const auto xvfbProblem = xvfb.start();

    std::printf("\nEncoding flat out (conversion + H.264; source = drawing or capture)\n");
    std::printf("%-20s %7s %9s %10s %8s %11s %9s\n", "case", "frames", "frames/s", "median ms", "p95 ms",
                "source ms", "KiB/frame");
    printEncodeRow("(a) synthetic", encodeFlatOut(generated, seconds));
    if (xvfbProblem)
        std::printf("%-20s skipped: %s\n", "(b) xvfb capture", xvfbProblem->c_str());
    else
        printEncodeRow("(b) xvfb capture", encodeFlatOut(xvfb.source(), seconds));

    std::printf("\nEnd to end at %d fps through TcpClient to tv-sim over loopback (ms)\n", kFps);
    std::printf("%-20s %5s %8s %7s %5s %10s %8s %13s %8s\n", "(c) source", "sent", "decoded", "errors", "late",
                "e2e median", "e2e p95", "queue->decode", "p95");
    printEndToEndRow("synthetic", endToEnd(generated, seconds));
    if (xvfbProblem)
        std::printf("%-20s skipped: %s\n", "xvfb capture", xvfbProblem->c_str());
    else
        printEndToEndRow("xvfb capture", endToEnd(xvfb.source(), seconds));
    return 0;
}
