#include "Session/MainWindowController.h"

#include "Platform/CurlHttpClient.h"
#include "Socket/TCPManager.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/ExtendedScreen.h"
#include "Session/FileOfferController.h"
#include "Session/FileWindowController.h"
#include "Session/MainWindowView.h"
#include "Rozi/RoziRelay.h"
#include "Session/SendersController.h"
#include "Session/TvControlController.h"
#include "Session/WindowCastController.h"
#include "Session/TvScreenController.h"
#include "Utils/FileManager.h"
#include "Utils/PUtils.h"

#include <cassert>
#include <chrono>
#include <utility>

namespace {

FileOfferController::Services fileOfferServices(TCPManager& link, const SessionState& state, const SessionServices& session)
{
    FileOfferController::Services services;
    // TCPManager::sendType only queues, from any thread.
    services.send = [&link](int type, std::vector<uint8_t> payload) {
        link.sendType(type, payload.data(), static_cast<int>(payload.size()));
    };
    services.tvAddress = [&state] { return state.tvDeviceIp; };
    services.http = session.http ? session.http : std::make_shared<CurlHttpClient>();
    services.downloadFolder = session.downloadFolder ? session.downloadFolder
                                                     : [] { return FileManager::downloadDirWithPath("pelkor"); };
    return services;
}

} // namespace

MainWindowController::MainWindowController(MainWindowView& view, SessionServices services)
    : view_(view),
      services_(std::move(services)),
      link_(services_.link ? *services_.link : TCPManager::sharedManager()),
      senders_(std::make_unique<SendersController>(*this)),
      connection_(std::make_unique<ConnectionController>(*this)),
      casting_(std::make_unique<CastingController>(*this)),
      tvControl_(std::make_unique<TvControlController>(*this)),
      extendedScreen_(std::make_unique<ExtendedScreen>(view_, state_, services_.extendedScreen, [this] {
          if (casting_->castRunning())
              casting_->userChangeVideoQuality();
      })),
      fileWindow_(std::make_unique<FileWindowController>(*this)),
      fileOffers_(std::make_unique<FileOfferController>(view_, fileOfferServices(link_, state_, services_))),
      windowCast_(std::make_unique<WindowCastController>(*this, services_.windowList)),
      viewing_(std::make_unique<TvScreenController>(*this)),
      relay_(RoziRelay::create({
          // TCPManager::sendType only queues, from any thread.
          .send = [this](uint16_t type) { link_.sendType(type, nullptr, 0); },
          // On "socketQueue"; the tip waits a moment, as the TV's error may come with others.
          .showTip = [this](std::string text) {
              guard_.postAfter(std::chrono::milliseconds(100), [this, text = std::move(text)] { showRoziTip(text); });
          },
      }))
{
    assert(mainThread_.holds());
    // After each discovery tick the senders concern shows the connected TV's name as heard.
    connection_->checkDeviceViewController().setDelegate(senders_.get());
    // The viewer, the TV's keys and the pushed files' acknowledgement hear the link from the start.
    link_.setDelegate<TvScreenDelegate>(viewing_.get());
    link_.setDelegate<TvKeyDelegate>(tvControl_.get());
    link_.setDelegate<TvFilePushDelegate>(fileWindow_.get());
}

MainWindowController::~MainWindowController()
{
    assert(mainThread_.holds());
    // Once the slots are clear no call from the link is running or comes; calls already queued on
    // the main queue find their concern's guard gone.
    setLinkDelegates(false);
    link_.setReverseControlDelegate(nullptr);
    // Nothing on "socketQueue" reaches this controller after it.
    relay_->shutdown();
    casting_->stopScreenSharing(CastStop::Quit);
}

void MainWindowController::windowDidLoad()
{
    assert(mainThread_.holds());
    extendedScreen_->windowDidLoad();
    connection_->windowDidLoad();
    if (services_.roziPort)
        relay_->enableServer("127.0.0.1", *services_.roziPort);
    setLinkDelegates(true);
}

void MainWindowController::setLinkDelegates(bool on)
{
    const auto concern = [on](auto& owned) { return on ? owned.get() : nullptr; };
    link_.setDelegate<TvConnectionDelegate>(concern(connection_));
    link_.setDelegate<TvCastDelegate>(concern(casting_));
    link_.setDelegate<TvTouchDelegate>(concern(tvControl_));
    link_.setDelegate<TvSendersDelegate>(concern(senders_));
    link_.setDelegate<TvFileOfferDelegate>(concern(fileOffers_));
    link_.setActiveVersionsDelegate(concern(senders_));
    link_.setRoziDelegate(concern(relay_));
}

void MainWindowController::endSession(SessionEnd end)
{
    assert(mainThread_.holds());
    if (end == SessionEnd::Link) {
        // Without a word to the TV: it is gone. The cast's end comes back here first.
        casting_->stopScreenSharing(CastStop::LinkEnded);
        relay_->setConnectWithTv(false);
        viewing_->endSession(end);
        fileWindow_->endSession(end);
        fileOffers_->endSession(end);
        windowCast_->endSession(end);
        view_.closeAlerts();
        view_.hideRoziTipWindow();
        return;
    }
    tvControl_->endSession(end);
    windowCast_->endSession(end);
    if (soundRouted_) {
        soundRouted_ = false;
        if (services_.restoreAudioDevices)
            services_.restoreAudioDevices();
    }
}

void MainWindowController::routeCastSound()
{
    assert(mainThread_.holds());
    if (soundRouted_ || !services_.routeAudioToLoopback)
        return;
    services_.routeAudioToLoopback();
    soundRouted_ = true;
}

void MainWindowController::windowWillClose()
{
    assert(mainThread_.holds());
    PUtils::logRedirect(false);
    extendedScreen_->releaseDisplay();
}

void MainWindowController::cancelRoziTipWindow()
{
    assert(mainThread_.holds());
    view_.hideRoziTipWindow();
}

void MainWindowController::showRoziTip(const std::string& text)
{
    if (!view_.roziTipWindowVisible())
        view_.showRoziTipWindow(text);
}
