#include "CastRun.h"

#include "FixedFrameRateSource.h"

#include "Platform/DispatchSource.h"
#include "Platform/MainQueue.h"
#include "Platform/PulseContext.h"
#include "Platform/RunLoop.h"
#include "Media/EncoderH264/windowInfo.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/WindowCastController.h"
#include "UI/SelectedQualityIndex.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

constexpr auto kTick = 100ms;
// The connect, the key exchange and the TV's first answer take well under this on a LAN.
constexpr auto kConnectLimit = 10s;
// Time for the send thread to write the stop before the link closes and drops what is queued.
constexpr auto kStopGrace = 300ms;

double seconds(std::chrono::steady_clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

} // namespace

CastRun::CastRun(const Options& options, RunLoop& loop, bool withSound)
    : options_(options),
      loop_(loop),
      view_([this](const std::string& line) { print(line); }),
      ticker_(MainQueue::shared(), [this] { tick(); })
{
    gSelectedQualityIndex.store(options.quality);
    controller_ = std::make_unique<MainWindowController>(view_, services(withSound));
    controller_->windowDidLoad();
}

SessionServices CastRun::services(bool withSound)
{
    SessionServices services;
    services.link = &link_;
    services.discovery.reset();
    services.tvPort = options_.port;
    // No extended screen is added to the user's desktop unless it is what the run casts.
    if (!options_.extended)
        services.extendedScreen.createDisplay = [] {
            return ExtendedScreenServices::Made{nullptr, "pelkor-cast casts the whole screen"};
        };
    if (!withSound)
        services.castMedia.makeSoundSource = [] { return nullptr; };
    if (options_.fps) {
        services.castMedia.makeVideoSource = [make = services.castMedia.withDefaults(link_).makeVideoSource,
                                              fps = *options_.fps]() -> std::unique_ptr<CastVideoSource> {
            return std::make_unique<FixedFrameRateSource>(make(), fps);
        };
    }
    return services;
}

void CastRun::print(const std::string& line) const
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void CastRun::start()
{
    connectStarted_ = Clock::now();
    // Typed in the address field, as the window's user would.
    const std::string typed = options_.address.empty() ? options_.code : options_.address;
    print("connecting to " + typed);
    controller_->connection().inputIPTextField(typed);
    ticker_.start(kTick, kTick);
}

void CastRun::tick()
{
    CastingController& casting = controller_->casting();
    const auto now = Clock::now();
    if (const auto format = casting.captureFormat())
        format_ = format;
    const uint64_t frames = casting.totals().videoFrames;
    if (frames > framesSeen_) {
        if (!firstFrame_)
            firstFrame_ = now;
        lastFrame_ = now;
        framesSeen_ = frames;
    }
    switch (step_) {
    case Step::Connecting:
        // A bad address, a refused connect or a code no TV answers: the controller has said so already.
        if (const auto& failed = view_.inputError())
            return finish("no cast: " + *failed, 1);
        if (view_.page() == MainWindowPage::Connected)
            castOnceConnected(now);
        else if (now - connectStarted_ > kConnectLimit)
            finish("no TV answered", 1);
        return;
    case Step::Choosing: {
        windowCollectionView& picker = controller_->windowCast().picker();
        if (picker.numberOfItems() > 0) {
            const auto window = picker.windowAt(0);
            print("window: " + window->windowName());
            controller_->windowCast().selectWindow(window);
            startCast(now, true);
        } else if (now - connectStarted_ > kConnectLimit) {
            finish("no window to cast", 1);
        }
        return;
    }
    case Step::Casting:
        if (!controller_->casting().castRunning())
            return finish("the cast ended", format_ ? 0 : 1);
        if (options_.seconds && now - *castStarted_ >= std::chrono::seconds(*options_.seconds))
            finish("time is up", 0);
        return;
    case Step::Stopping:
    case Step::Done:
        return;
    }
}

void CastRun::castOnceConnected(Clock::time_point now)
{
    if (options_.extended) {
        controller_->windowCast().selectExpand();
        return startCast(now, true);
    }
    if (!options_.window)
        return startCast(now, false);
    // The window page's picker lists the windows after its first poll.
    step_ = Step::Choosing;
    controller_->windowCast().toWindowInfoView();
}

void CastRun::startCast(Clock::time_point now, bool window)
{
    step_ = Step::Casting;
    castStarted_ = now;
    if (window)
        controller_->windowCast().clickStartWindowScreen();
    else
        controller_->casting().clickScreen(true);
    if (view_.castingCodeWindowShown()) {
        if (options_.code.empty())
            return finish("the TV asks for its casting code: give it with --code", 1);
        controller_->casting().inputScreenProjectionCode(options_.code);
    }
}

void CastRun::finish(const std::string& why, int status)
{
    if (step_ == Step::Stopping || step_ == Step::Done)
        return;
    print(why);
    step_ = Step::Stopping;
    status_ = status;
    if (controller_->casting().castRunning())
        controller_->casting().clickStopScreenBtn();
    MainQueue::shared()->asyncAfter(kStopGrace, [this] {
        ticker_.cancel();
        report();
        controller_.reset();
        link_.tcpClientRelease();
        step_ = Step::Done;
        loop_.quit();
    });
}

void CastRun::report() const
{
    const auto totals = controller_->casting().totals();
    const double span = firstFrame_ ? seconds(lastFrame_ - *firstFrame_) : 0;
    const double rate = span > 0 ? double(framesSeen_ - 1) / span : 0;
    char line[256];
    std::snprintf(line, sizeof line, "sent: %llu video frames, %llu bytes; %llu sound frames, %llu bytes",
                  static_cast<unsigned long long>(totals.videoFrames), static_cast<unsigned long long>(totals.videoBytes),
                  static_cast<unsigned long long>(totals.audioFrames), static_cast<unsigned long long>(totals.audioBytes));
    print(line);
    if (format_) {
        std::snprintf(line, sizeof line, "video: %dx%d at %d frames/s asked, %.1f frames/s sent", format_->width,
                      format_->height, format_->fps, rate);
        print(line);
    }
}

int CastRun::main(const Options& options)
{
    // The transport's threads inherit the mask: the signals reach only the descriptor below.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);

    const auto loop = std::make_shared<RunLoop>();
    MainQueue::install(loop);
    bool withSound = options.sound;
    if (withSound && !PulseContext::connect("pelkor-cast")) {
        std::printf("no sound server: casting video alone\n");
        withSound = false;
    }
    int status = 0;
    {
        CastRun run(options, *loop, withSound);
        std::unique_ptr<DispatchSource> source;
        if (signals >= 0) {
            source = DispatchSource::create(signals, DispatchSource::Kind::Read, MainQueue::shared(), [&] {
                signalfd_siginfo info;
                if (::read(signals, &info, sizeof info) == sizeof info)
                    run.finish(info.ssi_signo == SIGINT ? "interrupted" : "terminated", 0);
            });
            if (source)
                source->resume();
        }
        run.start();
        loop->run();
        status = run.status_;
        if (source)
            source->cancel();
    }
    MainQueue::install(nullptr);
    if (signals >= 0)
        ::close(signals);
    return status;
}
