// Glass-to-decoded latency of a whole-screen cast, ours beside ffmpeg's, on a private Xvfb of the
// cast's size:
//   - a painter draws a GlassStamp, a new number every millisecond, in the screen's top-left corner
//     over moving content, and notes when each number was on the screen;
//   - ours: pelkor-cast (the session controller on the command line: RecordManager's capture,
//     H.264, the TV link) casts to a TvSim in this process, which decodes every frame;
//   - ffmpeg: x11grab of the same screen, libx264 at the project's settings, FLV over TCP with
//     tcp_nodelay=1 to a reader in this process, decoded by the same decoder as ours;
//   - each decoded picture's number gives its latency: the time it was decoded minus the time that
//     number reached the screen.
// The senders take turns, round by round; each round prints its median and p95 latency, frames
// decoded per second, the sender's CPU per frame and its peak memory; then each side's min / median /
// max over the rounds and the ratios of the medians. The first second of each run is left out.
// Frames travel in clear on both roads (the TV offers no key exchange here). Then the Wayland capture
// roads (WaylandRoads), inside a private Wayland desktop where one can be made.
//   bench-cast [seconds per run, default 10] [rounds, default 3] [setting...: 720p30 1080p30 1440p30 1080p60]
#include "BenchXvfb.h"
#include "FlvVideoReader.h"
#include "GlassPainter.h"
#include "PeerCommand.h"
#include "WaylandRoads.h"
#include "X264PeerSettings.h"

#include "common/LoopbackSocket.h"
#include "tv-sim/TvSim.h"
#include "tv-sim/VideoDecoder.h"
#include "tv-sim/WallClock.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Setting {
    const char* name;
    int width;
    int height;
    int quality; // pelkor-cast's --quality for this size
    int fps;
};

// One run of one sender.
struct Round {
    bool ok = false;
    double medianMs = 0;
    double p95Ms = 0;
    // From the hand-off of the encoded frame (ours: to the link's send list; ffmpeg: from the socket
    // to the reader) to the decoded picture.
    double handOffMs = 0;
    double framesPerSecond = 0;
    double cpuMsPerFrame = 0;
    double peakMegabytes = 0;
    size_t decoded = 0;
    size_t unread = 0; // pictures whose number could not be read
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(share * double(values.size()) + 0.999999);
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// The pictures a run decoded; the decoder's thread adds, the run reads once the decoder has stopped.
class Pictures {
public:
    void add(const VideoDecoder::DecodedFrame& frame)
    {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
    }

    Round summarise(const GlassPainter& painter, const PeerCommand::Usage& usage) const
    {
        std::lock_guard lock(mutex_);
        Round round;
        round.decoded = frames_.size();
        if (frames_.empty())
            return round;
        // A start's first frames wait for the encoder and the link to warm up.
        const uint64_t from = frames_.front().decodedMicros + 1'000'000;
        std::vector<double> latencyMs;
        std::vector<double> handOffMs;
        uint64_t last = from;
        for (const auto& frame : frames_) {
            if (frame.decodedMicros < from)
                continue;
            const uint64_t drawn = painter.drawnAt(frame.glassStamp);
            if (drawn == 0) {
                ++round.unread;
                continue;
            }
            latencyMs.push_back(double(int64_t(frame.decodedMicros) - int64_t(drawn)) / 1000);
            handOffMs.push_back(double(frame.latencyMicros()) / 1000);
            last = frame.decodedMicros;
        }
        round.ok = usage.ok && latencyMs.size() > 10;
        round.medianMs = percentile(latencyMs, 0.5);
        round.p95Ms = percentile(latencyMs, 0.95);
        round.handOffMs = percentile(handOffMs, 0.5);
        round.framesPerSecond = last > from ? double(latencyMs.size()) / (double(last - from) / 1e6) : 0;
        round.cpuMsPerFrame = usage.cpuSeconds * 1000 / double(frames_.size());
        round.peakMegabytes = double(usage.peakResidentKilobytes) / 1024;
        return round;
    }

private:
    mutable std::mutex mutex_;
    std::vector<VideoDecoder::DecodedFrame> frames_;
};

std::string text(int value)
{
    return std::to_string(value);
}

Round castOurs(const Setting& setting, const GlassPainter& painter, int seconds)
{
    TvSim::Options options;
    options.keepPayloads = false;
    options.digestPayloads = false;
    options.decodeVideo = true;
    // Level 0 answers 30 frames/s; --quality gives the size and --fps the rate.
    options.qualityLevel = 0;
    TvSim tv(options);
    Pictures pictures;
    tv.setDecodeObserver([&pictures](const VideoDecoder::DecodedFrame& frame) { pictures.add(frame); });
    if (!tv.start())
        return {};
    const pid_t pid = PeerCommand::spawn({PELKOR_CAST_PATH, "--tv", "127.0.0.1:" + std::to_string(tv.port()),
                                          "--quality", text(setting.quality), "--fps", text(setting.fps),
                                          "--no-sound", "--seconds", text(seconds)},
                                         {-1, -1, -1});
    if (pid < 0)
        return {};
    const PeerCommand::Usage usage = PeerCommand::wait(pid);
    tv.stop();
    return pictures.summarise(painter, usage);
}

// Accepts ffmpeg's one connection and hands each access unit of its FLV stream to the decoder.
void readFlv(int listener, VideoDecoder& decoder)
{
    pollfd waiting{listener, POLLIN, 0};
    if (::poll(&waiting, 1, 30'000) <= 0)
        return;
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    FlvVideoReader reader([&decoder](std::vector<uint8_t> unit) { decoder.submit(std::move(unit), wallMicros()); });
    std::vector<uint8_t> chunk(256 * 1024);
    for (ssize_t got; (got = ::recv(fd, chunk.data(), chunk.size(), 0)) > 0;) {
        if (!reader.feed(std::span(chunk.data(), static_cast<size_t>(got)))) {
            std::fprintf(stderr, "ffmpeg's FLV stream could not be read\n");
            break;
        }
    }
    ::close(fd);
}

Round castFfmpeg(const Setting& setting, const std::string& display, const GlassPainter& painter, int seconds)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackSocket::address(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        return {};
    }
    Pictures pictures;
    VideoDecoder decoder([&pictures](const VideoDecoder::DecodedFrame& frame) { pictures.add(frame); });
    if (!decoder.start()) {
        ::close(listener);
        return {};
    }
    std::thread reader([listener, &decoder] { readFlv(listener, decoder); });
    std::vector<std::string> args{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-f", "x11grab",
                                  "-framerate", text(setting.fps), "-video_size",
                                  text(setting.width) + "x" + text(setting.height), "-t", text(seconds), "-i", display};
    const auto encoder = X264PeerSettings::args(setting.width, setting.height, setting.fps);
    args.insert(args.end(), encoder.begin(), encoder.end());
    args.insert(args.end(), {"-flush_packets", "1", "-f", "flv",
                             "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "?tcp_nodelay=1"});
    const pid_t pid = PeerCommand::spawn(args, {-1, -1, 2});
    const PeerCommand::Usage usage = pid < 0 ? PeerCommand::Usage{} : PeerCommand::wait(pid);
    // A peer that never connected leaves the reader waiting: the listener's shutdown ends the wait.
    ::shutdown(listener, SHUT_RDWR);
    reader.join();
    ::close(listener);
    decoder.stop();
    return pictures.summarise(painter, usage);
}

void printRound(int index, const char* who, const Round& round)
{
    if (!round.ok) {
        std::printf("  round %d %-6s failed (%zu pictures decoded)\n", index, who, round.decoded);
        return;
    }
    std::printf("  round %d %-6s median %6.1f ms  p95 %6.1f ms (hand-off to picture %4.1f ms)  %5.1f frames/s  "
                "CPU %5.1f ms a frame  peak %5.0f MB  (%zu decoded, %zu unread)\n",
                index, who, round.medianMs, round.p95Ms, round.handOffMs, round.framesPerSecond, round.cpuMsPerFrame,
                round.peakMegabytes, round.decoded, round.unread);
}

struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};

Spread spread(const std::vector<Round>& rounds, double Round::*field)
{
    std::vector<double> values;
    for (const Round& round : rounds)
        if (round.ok)
            values.push_back(round.*field);
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {values.front(), values[(values.size() - 1) / 2], values.back()};
}

void printSide(const char* who, const std::vector<Round>& rounds)
{
    const Spread median = spread(rounds, &Round::medianMs);
    const Spread p95 = spread(rounds, &Round::p95Ms);
    std::printf("  %-6s median %5.1f / %5.1f / %5.1f ms   p95 %5.1f / %5.1f / %5.1f ms (min / median / max of rounds)\n",
                who, median.min, median.median, median.max, p95.min, p95.median, p95.max);
}

void run(const Setting& setting, int seconds, int rounds)
{
    std::printf("\n%s (%dx%d, %d frames/s)\n", setting.name, setting.width, setting.height, setting.fps);
    BenchXvfb xvfb(setting.width, setting.height);
    if (!xvfb.start()) {
        std::printf("  no Xvfb\n");
        return;
    }
    GlassPainter painter(xvfb.name(), setting.width, setting.height);
    if (!painter.start()) {
        std::printf("  cannot draw on %s\n", xvfb.name().c_str());
        return;
    }
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    std::vector<Round> ours;
    std::vector<Round> theirs;
    for (int round = 1; round <= rounds; ++round) {
        // Each round starts with the other sender, so neither always runs first.
        if (round % 2) {
            ours.push_back(castOurs(setting, painter, seconds));
            theirs.push_back(castFfmpeg(setting, xvfb.name(), painter, seconds));
        } else {
            theirs.push_back(castFfmpeg(setting, xvfb.name(), painter, seconds));
            ours.push_back(castOurs(setting, painter, seconds));
        }
        printRound(round, "ours", ours.back());
        printRound(round, "ffmpeg", theirs.back());
    }
    printSide("ours", ours);
    printSide("ffmpeg", theirs);
    const auto ratio = [&](double Round::*field) {
        const double peer = spread(theirs, field).median;
        return peer > 0 ? spread(ours, field).median / peer : 0.0;
    };
    std::printf("  ours / ffmpeg: median %.2f, p95 %.2f, frames/s %.2f, CPU a frame %.2f, peak memory %.2f\n",
                ratio(&Round::medianMs), ratio(&Round::p95Ms), ratio(&Round::framesPerSecond),
                ratio(&Round::cpuMsPerFrame), ratio(&Round::peakMegabytes));
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (argc > 2 && std::string(argv[2]) == WaylandRoads::kInsideFlag)
        return WaylandRoads::inside(seconds);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds < 3 || rounds < 1) {
        std::fprintf(stderr, "usage: bench-cast [seconds per run, at least 3] [rounds, at least 1]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!PeerCommand::available("ffmpeg")) {
        std::fprintf(stderr, "ffmpeg is missing (bash scripts/install-deps.sh)\n");
        return 1;
    }
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("%u cores, load average %.2f %.2f %.2f; %d rounds of %d s a sender and setting; glass-to-decoded "
                "latency of pelkor-cast to tv-sim and of ffmpeg (x11grab, libx264, FLV over TCP), both on 127.0.0.1\n",
                std::thread::hardware_concurrency(), load[0], load[1], load[2], rounds, seconds);
    const Setting settings[] = {{"720p30", 1280, 720, 2, 30},
                                {"1080p30", 1920, 1080, 1, 30},
                                {"1440p30", 2560, 1440, 3, 30},
                                {"1080p60", 1920, 1080, 1, 60}};
    const std::vector<std::string> chosen(argv + std::min(argc, 3), argv + argc);
    for (const Setting& setting : settings)
        if (chosen.empty() || std::find(chosen.begin(), chosen.end(), setting.name) != chosen.end())
            run(setting, seconds, rounds);
    if (chosen.empty())
        WaylandRoads::section(argv[0], seconds);
    return 0;
}
