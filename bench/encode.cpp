// Speed of the cast's video road at 1920 x 1080 and 2560 x 1440, each beside its peer run in the
// same invocation, interleaved round by round on the same machine:
//   (a) encoding: TzVideoEncoder (BGRA conversion and H.264) on a moving synthetic picture held in
//       memory, beside ffmpeg's libx264 at the same x264 settings on the same frames. ffmpeg reads
//       them from a file: the cost of that reading, measured by a run that only reads, is taken
//       out of its time, so both sides are timed on frames already in memory;
//   (b) capture of a private Xvfb screen: the cast's own call (X11ScreenCapture::capture of the
//       primary display, as RecordManager makes it every tick) beside the bare grab of the whole
//       screen and beside ffmpeg -f x11grab, uncapped;
//   (c) capture and encoding together, the screen's content moving, at 60 frames per second;
//   (d) at 1080p30, from the moment a frame is generated or captured to the moment the TV peer
//       (tv-sim, decoding) has its picture, through TcpClient over loopback.
// "(frames)" compares with x264 threading a frame per thread, ffmpeg's default, which is not live.
// A peer's rate leaves out its start: it is (N - 1) frames over the time a run of N frames takes
// beyond a run of 1. The encoder gets the bit rate the capture asks for: width x height x 96 bits
// per second, which it caps.
//   bench-encode [frames per run, default 240]
#include "BenchXvfb.h"
#include "PeerCommand.h"
#include "SyntheticScreen.h"
#include "X264PeerSettings.h"

#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Platform/BgraFrame.h"
#include "Platform/X11Display.h"
#include "Platform/X11ScreenCapture.h"
#include "Socket/MessageType.h"
#include "Socket/TcpClient.h"
#include "Socket/TcpNativeInfo.h"
#include "tv-sim/TvSim.h"
#include "tv-sim/WallClock.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFps = 60;
constexpr int kEndToEndFps = 30;
constexpr int kRounds = 3;
// Distinct raw frames; the runs go round them.
constexpr int kDistinctFrames = 30;

struct Size {
    const char* name;
    int width;
    int height;
};

int32_t castBitRate(const Size& size)
{
    return RecordManager::bitRateFor(size.width, size.height);
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

double median(std::vector<double> values)
{
    return spread(std::move(values)).median;
}

// One side's figures over all rounds.
struct Figures {
    std::vector<double> roundRates; // frames per second, one per round
    std::vector<double> frameMs;    // per frame, ours only
    double kilobytesPerFrame = 0;
    bool failed = false;

    double rate() const { return median(roundRates); }
};

// ffmpeg's rate without its start: (frames - 1) over the time beyond a run of one frame.
std::optional<double> peerRate(std::vector<std::string> args, int frames, std::string* output = nullptr)
{
    const auto withFrames = [&](int count) {
        std::vector<std::string> full = args;
        full.insert(full.end() - 3, {"-frames:v", std::to_string(count)});
        return PeerCommand::run(full);
    };
    const PeerCommand::Run one = withFrames(1);
    const PeerCommand::Run all = withFrames(frames);
    if (!one.ok || !all.ok || all.seconds <= one.seconds) {
        std::fprintf(stderr, "peer failed:\n%s\n", (all.ok ? one : all).output.c_str());
        return std::nullopt;
    }
    if (output)
        *output = all.output;
    return (frames - 1) / (all.seconds - one.seconds);
}

// The encoded size ffmpeg reports at its end ("video:123kB"), per frame.
double peerKilobytesPerFrame(const std::string& output, int frames)
{
    const size_t at = output.rfind("video:");
    return at == std::string::npos ? 0 : std::atof(output.c_str() + at + 6) / frames;
}

// Our encoder on the frames, each call timed.
void encodeRound(const Size& size, const std::vector<BgraFrame>& frames, int count, Figures& figures)
{
    TzVideoEncoder encoder;
    if (encoder.startEncodeSessionWithVideoSize(size.width, size.height, kFps, castBitRate(size)) != 0) {
        figures.failed = true;
        return;
    }
    size_t bytes = 0;
    double totalMs = 0;
    for (int index = 0; index < count; ++index) {
        const BgraFrame& frame = frames[size_t(index) % frames.size()];
        const auto start = Clock::now();
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(frame), 0,
                                       [&](std::span<const uint8_t> accessUnit) { bytes += accessUnit.size(); });
        const double ms = millisecondsSince(start, Clock::now());
        figures.frameMs.push_back(ms);
        totalMs += ms;
    }
    figures.roundRates.push_back(count / (totalMs / 1000));
    figures.kilobytesPerFrame = double(bytes) / 1024 / count;
}

// The raw frames in a temporary file, removed at the end.
class RawFile {
public:
    explicit RawFile(const std::vector<BgraFrame>& frames)
    {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder && *folder ? folder : "/tmp") + "/bench-encode-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0)
            return;
        std::FILE* file = fdopen(fd, "wb");
        for (const BgraFrame& frame : frames)
            for (int y = 0; y < frame.height && file; ++y)
                std::fwrite(frame.pixel(0, y), 4, size_t(frame.width), file);
        written_ = file && std::fclose(file) == 0;
    }
    ~RawFile() { ::unlink(path_.c_str()); }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    bool written() const { return written_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool written_ = false;
};

// ffmpeg's libx264 at our settings on the raw frames of `path`.
std::vector<std::string> x264PeerArgs(const Size& size, const std::string& path, bool frameThreads)
{
    std::vector<std::string> args{"ffmpeg", "-hide_banner", "-nostdin", "-stream_loop", "-1", "-f", "rawvideo",
                                  "-pix_fmt", "bgra", "-s", std::to_string(size.width) + "x" + std::to_string(size.height),
                                  "-r", std::to_string(kFps), "-i", path};
    const auto encoder = X264PeerSettings::args(size.width, size.height, kFps, frameThreads);
    args.insert(args.end(), encoder.begin(), encoder.end());
    // -frames:v goes before these three.
    args.insert(args.end(), {"-f", "null", "-"});
    return args;
}

void printComparison(const char* what, const Figures& ours, const Figures& peer, bool sizes, const char* peerName = "peer")
{
    if (ours.failed || peer.failed || ours.roundRates.empty() || peer.roundRates.empty()) {
        std::printf("  %-10s failed\n", what);
        return;
    }
    const Spread frame = spread(ours.frameMs);
    std::printf("  %-10s ours %7.1f frames/s (median %6.2f ms, p95 %6.2f ms)   %s %7.1f frames/s   ratio %.2f",
                what, ours.rate(), frame.median, frame.p95, peerName, peer.rate(), ours.rate() / peer.rate());
    if (sizes)
        std::printf("   KiB/frame %.1f vs %.1f", ours.kilobytesPerFrame, peer.kilobytesPerFrame);
    std::printf("\n");
}

// ffmpeg reading the raw frames of `path` and nothing more: the null muxer takes them wrapped, uncopied.
std::vector<std::string> inputOnlyArgs(const Size& size, const std::string& path)
{
    return {"ffmpeg", "-hide_banner", "-nostdin", "-stream_loop", "-1", "-f", "rawvideo", "-pix_fmt", "bgra", "-s",
            std::to_string(size.width) + "x" + std::to_string(size.height), "-r", std::to_string(kFps), "-i", path,
            // -frames:v goes before these three.
            "-f", "null", "-"};
}

void compareEncoding(const Size& size, int count)
{
    SyntheticScreen screen(size.width, size.height);
    std::vector<BgraFrame> frames;
    for (int index = 0; index < kDistinctFrames; ++index)
        frames.push_back(screen.draw(index));
    const RawFile raw(frames);
    if (!raw.written()) {
        std::printf("  encoding   skipped: cannot write the raw frames\n");
        return;
    }
    const std::vector<std::string> sliced = x264PeerArgs(size, raw.path(), false);
    const std::vector<std::string> framed = x264PeerArgs(size, raw.path(), true);
    const std::vector<std::string> reading = inputOnlyArgs(size, raw.path());
    Figures ours;
    Figures peer;
    Figures framePeer;
    std::vector<double> readingMs;
    // The peer's encoding rate with the round's reading time per frame taken out.
    const auto runPeer = [count](const std::vector<std::string>& args, double readMs, Figures& figures) {
        std::string output;
        const std::optional<double> rate = peerRate(args, count, &output);
        figures.failed = figures.failed || !rate || 1000 / *rate <= readMs;
        if (!figures.failed) {
            figures.roundRates.push_back(1000 / (1000 / *rate - readMs));
            figures.kilobytesPerFrame = peerKilobytesPerFrame(output, count);
        }
    };
    for (int round = 0; round < kRounds && !ours.failed && !peer.failed; ++round) {
        encodeRound(size, frames, count, ours);
        const std::optional<double> readRate = peerRate(reading, count);
        if (!readRate) {
            peer.failed = true;
            break;
        }
        readingMs.push_back(1000 / *readRate);
        runPeer(sliced, readingMs.back(), peer);
        runPeer(framed, readingMs.back(), framePeer);
    }
    printComparison("encoding", ours, peer, true, "libx264");
    printComparison("(frames)", ours, framePeer, true, "libx264");
    if (!readingMs.empty())
        std::printf("  (ffmpeg's reading of the raw frames, median %.2f ms a frame, is taken out of its time)\n",
                    median(readingMs));
}

// The screen, its capture and its moving content.
struct ScreenCapture {
    explicit ScreenCapture(const Size& size) : server(size.width, size.height) {}

    // nullopt with the reason when the screen cannot be captured.
    std::optional<std::string> start(const Size& size)
    {
        if (!server.start())
            return "Xvfb is not installed or did not start";
        display = X11Display::open(server.name());
        if (!display)
            return "cannot open " + server.name();
        capture = std::make_unique<X11ScreenCapture>(*display);
        bareCapture = std::make_unique<X11ScreenCapture>(*display);
        scene = std::make_unique<BenchScene>(*display, size.width, size.height);
        return std::nullopt;
    }

    BenchXvfb server;
    std::unique_ptr<X11Display> display;
    std::unique_ptr<X11ScreenCapture> capture;
    // The whole screen, beside the cast's display, each keeping its own place.
    std::unique_ptr<X11ScreenCapture> bareCapture;
    std::unique_ptr<BenchScene> scene;
    BgraFrame frame;
};

// `count` captures each of the primary display by the cast's call and of the whole screen by the bare
// grab, taking turns capture by capture, as one round of each figure.
void captureRound(ScreenCapture& screen, uint32_t primary, int count, Figures& castCall, Figures& bare)
{
    double castMs = 0;
    double bareMs = 0;
    const auto timed = [&screen](X11ScreenCapture& capture, uint32_t displayId, Figures& figures, double& totalMs) {
        const auto start = Clock::now();
        figures.failed = capture.capture(displayId, screen.frame) != X11ScreenCapture::CaptureResult::kOk;
        const double ms = millisecondsSince(start, Clock::now());
        figures.frameMs.push_back(ms);
        totalMs += ms;
    };
    for (int index = 0; index < count && !castCall.failed && !bare.failed; ++index) {
        timed(*screen.capture, primary, castCall, castMs);
        timed(*screen.bareCapture, 0, bare, bareMs);
    }
    castCall.roundRates.push_back(count / (castMs / 1000));
    bare.roundRates.push_back(count / (bareMs / 1000));
}

void compareCapture(const Size& size, ScreenCapture& screen, int count)
{
    screen.scene->draw(0);
    // What RecordManager captures: the primary display, kept between ticks.
    const auto displays = screen.capture->displays();
    const uint32_t primary = displays.empty() ? 0 : displays.front().id;
    // A frame rate far beyond any grab: x11grab then takes one frame after the other.
    const std::vector<std::string> args{"ffmpeg", "-hide_banner", "-nostdin", "-f", "x11grab", "-framerate", "100000",
                                        "-draw_mouse", "0", "-video_size",
                                        std::to_string(size.width) + "x" + std::to_string(size.height), "-i",
                                        screen.server.name(), "-f", "null", "-"};
    Figures castCall;
    Figures bare;
    Figures peer;
    for (int round = 0; round < kRounds && !castCall.failed && !bare.failed && !peer.failed; ++round) {
        captureRound(screen, primary, count, castCall, bare);
        const std::optional<double> rate = peerRate(args, count);
        peer.failed = !rate;
        if (rate)
            peer.roundRates.push_back(*rate);
    }
    printComparison("capture", castCall, peer, false, "x11grab");
    printComparison("(bare)", castCall, bare, false, "bare grab");
}

// Capture and encoding of the moving screen, flat out; drawing the content is not counted.
void captureAndEncode(const Size& size, ScreenCapture& screen, int count)
{
    TzVideoEncoder encoder;
    if (encoder.startEncodeSessionWithVideoSize(size.width, size.height, kFps, castBitRate(size)) != 0) {
        std::printf("  %-10s failed\n", "both");
        return;
    }
    std::vector<double> frameMs;
    std::vector<double> captureMs;
    double totalMs = 0;
    for (int index = 0; index < count; ++index) {
        screen.scene->draw(index);
        const auto start = Clock::now();
        if (screen.capture->capture(0, screen.frame) != X11ScreenCapture::CaptureResult::kOk) {
            std::printf("  %-10s capture failed\n", "both");
            return;
        }
        const auto captured = Clock::now();
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(screen.frame), 0, [](std::span<const uint8_t>) {});
        const double ms = millisecondsSince(start, Clock::now());
        captureMs.push_back(millisecondsSince(start, captured));
        frameMs.push_back(ms);
        totalMs += ms;
    }
    const Spread frame = spread(frameMs);
    const Spread capture = spread(captureMs);
    std::printf("  %-10s ours %7.1f frames/s (median %6.2f ms, p95 %6.2f ms; capture median %.2f ms, p95 %.2f "
                "ms): %s at %d fps\n",
                "both", count / (totalMs / 1000), frame.median, frame.p95, capture.median, capture.p95,
                frame.p95 < 1000.0 / kFps ? "real time" : "NOT real time", kFps);
}

int ignoreEvents(void*, TcpClient*, int, const char*, const uint8_t*, uint64_t, uint32_t)
{
    return 0;
}

// One frame per call, numbered from 0; null when no frame could be had.
using FrameSource = std::function<const BgraFrame*(int index)>;

// At kEndToEndFps, paced by the clock: each frame is made, encoded and queued on the client; the
// TV peer decodes what arrives. Frames are matched by their number in the stream.
void endToEnd(const char* name, const Size& size, const FrameSource& source, int frames)
{
    TvSim::Options options;
    options.keepPayloads = false;
    options.decodeVideo = true;
    TvSim tv(options);
    TcpNativeInfo info{nullptr, nullptr, nullptr, ignoreEvents, nullptr};
    TcpClient client(&info);
    TzVideoEncoder encoder;
    if (!tv.start() || !client.connect("127.0.0.1", tv.port()) || !tv.waitForConnection()
        || encoder.startEncodeSessionWithVideoSize(size.width, size.height, kEndToEndFps, castBitRate(size)) != 0) {
        std::printf("  %-10s failed\n", name);
        return;
    }
    std::vector<uint64_t> madeAt;
    int late = 0;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kEndToEndFps));
    const auto start = Clock::now();
    for (int index = 0; index < frames; ++index) {
        const auto due = start + index * period;
        if (Clock::now() > due + period)
            ++late;
        std::this_thread::sleep_until(due);
        madeAt.push_back(wallMicros());
        const BgraFrame* frame = source(index);
        if (!frame) {
            std::printf("  %-10s no frame\n", name);
            return;
        }
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(*frame), 0, [&](std::span<const uint8_t> unit) {
            client.send(kMsgVideoFrame, unit.data(), static_cast<int>(unit.size()));
        });
    }
    encoder.stopEncodeSession();
    tv.waitForDecodedFrames(static_cast<size_t>(frames), std::chrono::seconds(10));
    client.disconnect(0);
    tv.stop();
    std::vector<double> captureToDecode;
    for (const auto& picture : tv.decodedFrames())
        if (picture.index < madeAt.size())
            captureToDecode.push_back(double(picture.decodedMicros - madeAt[picture.index]) / 1000);
    const Spread latency = spread(captureToDecode);
    std::printf("  %-10s sent %d, decoded %zu, errors %zu, late %d; frame made to decoded median %.2f ms, p95 %.2f ms\n",
                name, frames, captureToDecode.size(), tv.decodeErrors(), late, latency.median, latency.p95);
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 240;
    if (count < 2) {
        std::fprintf(stderr, "usage: bench-encode [frames per run, at least 2]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const bool peer = PeerCommand::available("ffmpeg");
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("%u cores, load average %.2f %.2f %.2f; %d frames per run, %d rounds interleaved with the peer%s; "
                "encoding at %d fps\n",
                std::thread::hardware_concurrency(), load[0], load[1], load[2], count, kRounds,
                peer ? "" : " (ffmpeg missing: no peer)", kFps);

    for (const Size& size : {Size{"1080p", 1920, 1080}, Size{"1440p", 2560, 1440}}) {
        std::printf("\n%s (%dx%d)\n", size.name, size.width, size.height);
        if (peer)
            compareEncoding(size, count);
        ScreenCapture screen(size);
        if (const auto problem = screen.start(size)) {
            std::printf("  capture    skipped: %s\n", problem->c_str());
            continue;
        }
        if (peer)
            compareCapture(size, screen, count);
        captureAndEncode(size, screen, count);
    }

    const Size size{"1080p", 1920, 1080};
    std::printf("\nEnd to end at 1080p%d through TcpClient to tv-sim over loopback\n", kEndToEndFps);
    SyntheticScreen synthetic(size.width, size.height);
    endToEnd("synthetic", size, [&](int index) { return &synthetic.draw(index); }, kEndToEndFps * 5);
    ScreenCapture screen(size);
    if (const auto problem = screen.start(size)) {
        std::printf("  xvfb       skipped: %s\n", problem->c_str());
        return 0;
    }
    endToEnd("xvfb", size, [&](int index) -> const BgraFrame* {
        screen.scene->draw(index);
        return screen.capture->capture(0, screen.frame) == X11ScreenCapture::CaptureResult::kOk ? &screen.frame
                                                                                               : nullptr;
    }, kEndToEndFps * 5);
    return 0;
}
