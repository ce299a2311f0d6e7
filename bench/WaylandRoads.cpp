// bench-cast's Wayland section: the Wayland capture roads, at 1080p30 and 1080p60, inside a private
// Wayland desktop (tests/wayland/wayland-session.sh): the compositor's screen copy of a moving window
// in headless sway, and the desktop portal (the tests' stand-in) with its PipeWire stream of a moving
// picture. Each cast goes through the session controller (MainWindowController, RecordManager's
// capture road, H.264, the TV link) to a tv-sim process that decodes every frame. Per configuration:
//   - frames per second the TV decoded, over the run;
//   - capture-to-decoded latency, median and p95: from the scheduled time of the capture tick that
//     took the frame (an upper bound on its capture time) to the TV's decoded picture;
//   - CPU time of this process (capture, conversion, encoding, sending) per frame sent.
// The quality choice gives the size; the frame rate is set beyond the TV's table where asked.
#include "WaylandRoads.h"

#include "BenchXvfb.h"
#include "ConsoleView.h"
#include "PeerCommand.h"

#include "Platform/MainQueue.h"
#include "Platform/WaylandCapture.h"
#include "Platform/TestMainLoop.h"
#include "Platform/X11Display.h"
#include "Socket/TCPManager.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Session/RecordManagerVideoSource.h"
#include "UI/SelectedQualityIndex.h"
#include "tv-sim/WallClock.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Config {
    const char* name;
    int width;
    int height;
    int32_t qualityIndex;
    int32_t fps;
};

// For each frame handed to the link, in order: the scheduled time of the capture tick it came from.
struct CaptureTimes {
    mutable std::mutex mutex;
    std::vector<uint64_t> micros;

    void add(uint64_t at)
    {
        std::lock_guard lock(mutex);
        micros.push_back(at);
    }
    std::vector<uint64_t> all() const
    {
        std::lock_guard lock(mutex);
        return micros;
    }
};

// RecordManager at a frame rate of the benchmark's choosing, noting for each frame handed to the link
// the scheduled time of the capture tick it came from.
class TimedVideoSource final : public CastVideoSource {
public:
    TimedVideoSource(int32_t fps, CaptureTimes& capturedAt, CaptureSourceFactory sources = {})
        : fps_(fps), capturedAt_(capturedAt), inner_(RecordManager::Link{}, std::string{}, std::move(sources))
    {
    }

    void setDelegate(RecordManagerToStopScreenDelegate* delegate) override { inner_.setDelegate(delegate); }
    void SetCallback(void* userData, MediaDataCallback callback) override
    {
        userData_ = userData;
        callback_ = callback;
        inner_.SetCallback(this, relay);
    }
    void StartRecord(double width, double height, int32_t, ScreenType type, const std::shared_ptr<windowInfo>& window,
                     uint32_t screenId) override
    {
        startedAt_ = wallMicros();
        inner_.StartRecord(width, height, fps_, type, window, screenId);
    }
    void StopRecord() override { inner_.StopRecord(); }
    void deallocRecord() override { inner_.deallocRecord(); }

private:
    // Capture queue.
    static int32_t relay(void* user, const uint8_t* bytes, uint32_t length)
    {
        auto& self = *static_cast<TimedVideoSource*>(user);
        const int32_t result = self.callback_(self.userData_, bytes, length);
        if (result >= 0) {
            const uint64_t period = 1'000'000 / static_cast<uint64_t>(self.fps_);
            const uint64_t now = wallMicros();
            self.capturedAt_.add(now - (now - self.startedAt_) % period);
        }
        return result;
    }

    const int32_t fps_;
    CaptureTimes& capturedAt_;
    RecordManagerVideoSource inner_;
    void* userData_ = nullptr;
    MediaDataCallback callback_ = nullptr;
    std::atomic<uint64_t> startedAt_{0};
};

// tv-sim --decode as a child; its report lines give each video frame's time stamp and decoding.
class TvPeer {
public:
    TvPeer()
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = PeerCommand::spawn({TV_SIM_PATH, "--listen", "127.0.0.1:0", "--no-heartbeat", "--decode"},
                                  {-1, out[1], -1});
        ::close(out[1]);
        reader_ = std::thread([this, fd = out[0]] { read(fd); });
    }
    ~TvPeer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable())
            reader_.join();
    }

    uint16_t waitForPort()
    {
        for (int i = 0; i < 100 && port_.load() == 0; ++i)
            std::this_thread::sleep_for(50ms);
        return port_.load();
    }
    // Decoded-at wall times by frame index (0 where not decoded).
    std::vector<uint64_t> decodedAt() const
    {
        std::lock_guard lock(mutex_);
        return decodedAt_;
    }
    size_t decoded() const
    {
        std::lock_guard lock(mutex_);
        return decodedCount_;
    }

private:
    void read(int fd)
    {
        static const std::regex listen(R"(listen 127\.0\.0\.1:(\d+))");
        static const std::regex video(R"(recv tcp .* name=kMsgVideoFrame .* ts=(\d+) )");
        static const std::regex decoded(R"(decoded n=(\d+) size=\d+x\d+ latency_us=(-?\d+))");
        std::string buffered;
        char chunk[8192];
        for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
            buffered.append(chunk, static_cast<size_t>(got));
            for (size_t end; (end = buffered.find('\n')) != std::string::npos; buffered.erase(0, end + 1)) {
                const std::string line = buffered.substr(0, end);
                std::smatch match;
                std::lock_guard lock(mutex_);
                if (std::regex_search(line, match, listen)) {
                    port_.store(static_cast<uint16_t>(std::stoi(match[1])));
                } else if (std::regex_search(line, match, video)) {
                    stamps_.push_back(std::stoull(match[1]));
                } else if (std::regex_search(line, match, decoded)) {
                    const size_t index = std::stoull(match[1]);
                    if (index < stamps_.size()) {
                        decodedAt_.resize(std::max(decodedAt_.size(), index + 1));
                        decodedAt_[index] = stamps_[index] + std::stoll(match[2]);
                        ++decodedCount_;
                    }
                }
            }
        }
        ::close(fd);
    }

    pid_t pid_ = -1;
    std::thread reader_;
    std::atomic<uint16_t> port_{0};
    mutable std::mutex mutex_;
    std::vector<uint64_t> stamps_;
    std::vector<uint64_t> decodedAt_;
    size_t decodedCount_ = 0;
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(share * double(values.size()) + 0.999999);
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// With `sources` (a Wayland road) the desktop shows its own moving picture: no Xvfb.
void run(const Config& config, int seconds, const CaptureSourceFactory& sources = {})
{
    BenchXvfb xvfb(config.width, config.height);
    if (!sources && !xvfb.start()) {
        std::printf("  %-9s no Xvfb\n", config.name);
        return;
    }
    if (!sources)
        setenv("DISPLAY", xvfb.name().c_str(), 1);
    std::atomic<bool> drawing{!sources};
    std::thread scene([&] {
        if (!drawing.load())
            return;
        const auto display = X11Display::open(xvfb.name());
        if (!display)
            return;
        BenchScene picture(*display, config.width, config.height);
        for (int index = 0; drawing.load(); ++index) {
            picture.draw(index);
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / 60));
        }
    });

    TvPeer tv;
    const uint16_t port = tv.waitForPort();
    const auto loop = std::make_shared<TestMainLoop>();
    MainQueue::install(loop);
    CaptureTimes capturedAt;
    {
        TCPManager link;
        ConsoleView view([](const std::string&) {});
        SessionServices services;
        services.link = &link;
        services.discovery.reset();
        services.castMedia.makeVideoSource = [&] {
            return std::make_unique<TimedVideoSource>(config.fps, capturedAt, sources);
        };
        services.castMedia.makeSoundSource = [] { return nullptr; };
        gSelectedQualityIndex.store(config.qualityIndex);
        MainWindowController controller(view, services);
        controller.windowDidLoad();
        if (port == 0 || !link.connectToHost("127.0.0.1", port)
            || !loop->runUntil([&] { return link.getConnectTvIp() == "127.0.0.1"; })) {
            std::printf("  %-9s no link to tv-sim\n", config.name);
        } else {
            controller.state().screenProjectionCode = "";
            controller.state().inputScreenProjectionCode = "";
            controller.casting().clickScreen(true);
            // The TV of the peer does not answer on its own: answer as a TV at level 0 would.
            controller.casting().onVideoQuality(0, 0, 0, 0);
            loop->runUntil([&] { return controller.casting().captureFormat().has_value(); });
            const double cpuBefore = processCpuSeconds();
            const auto framesBefore = controller.casting().totals().videoFrames;
            loop->runUntil([] { return false; }, std::chrono::seconds(seconds));
            const double cpu = processCpuSeconds() - cpuBefore;
            const auto sent = controller.casting().totals().videoFrames - framesBefore;
            controller.casting().clickStopScreenBtn();
            const auto captured = capturedAt.all();
            loop->runUntil([&] { return tv.decoded() >= captured.size(); }, 3s);

            std::vector<double> latencyMs;
            const auto decodedAt = tv.decodedAt();
            for (size_t i = 0; i < decodedAt.size() && i < captured.size(); ++i)
                if (decodedAt[i] != 0)
                    latencyMs.push_back(double(int64_t(decodedAt[i]) - int64_t(captured[i])) / 1000);
            std::printf("  %-9s %6.1f frames/s decoded; capture to decoded median %6.1f ms, p95 %6.1f ms; "
                        "CPU %5.1f ms a frame (%llu sent, %zu decoded)\n",
                        config.name, double(tv.decoded()) / seconds, percentile(latencyMs, 0.5),
                        percentile(latencyMs, 0.95), sent ? cpu * 1000 / double(sent) : 0.0,
                        static_cast<unsigned long long>(sent), tv.decoded());
        }
        link.tcpClientRelease();
    }
    loop->runUntilIdle();
    MainQueue::install(nullptr);
    drawing.store(false);
    scene.join();
}

const Config kWaylandConfigs[] = {{"1080p30", 1920, 1080, 1, 30}, {"1080p60", 1920, 1080, 1, 60}};

} // namespace

int WaylandRoads::inside(int seconds)
{
    const pid_t window = PeerCommand::spawn({WAYLAND_SOLID_WINDOW_PATH, "--colour", "2080c0", "--moving"}, {-1, -1, -1});
    for (const char* road : {"screencopy", "portal"}) {
        setenv("PELKOR_WAYLAND_CAPTURE", road, 1);
        std::printf(" Wayland, %s:\n", road);
        std::fflush(stdout);
        for (const Config& config : kWaylandConfigs)
            run(config, seconds, WaylandCapture::factory());
    }
    if (window > 0) {
        kill(window, SIGTERM);
        waitpid(window, nullptr, 0);
    }
    return 0;
}

void WaylandRoads::section(const char* self, int seconds)
{
    std::printf("Wayland capture roads (headless sway, pixman; the stand-in portal's PipeWire stream at 60 frames/s):\n");
    std::fflush(stdout);
    const pid_t session = PeerCommand::spawn({"bash", WAYLAND_SESSION_SCRIPT, "--portal", PIPEWIRE_PRODUCER_PATH, "--size",
                                             "1920x1080", "--fps", "60", "--", self, std::to_string(seconds),
                                             kInsideFlag},
                                            {-1, STDOUT_FILENO, STDERR_FILENO});
    int status = 0;
    if (session <= 0 || waitpid(session, &status, 0) != session || !WIFEXITED(status) || WEXITSTATUS(status) == 77)
        std::printf("  no Wayland desktop here: see the line above\n");
}

