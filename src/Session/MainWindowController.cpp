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
#include "Utils/Log.h"
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
      connection_(std::make_unique<ConnectionController>(*this)),
      senders_(std::make_unique<SendersController>(*this)),
      casting_(std::make_unique<CastingController>(*this)),
      tvControl_(std::make_unique<TvControlController>(*this)),
      extendedScreen_(std::make_unique<ExtendedScreen>(view_, state_, services_.extendedScreen,
                                                       [this] { casting_->userChangeVideoQuality(); })),
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
    if (services_.routeAudioToLoopback)
        services_.routeAudioToLoopback();
    link_.setReverseControlDelegate(this);
}

MainWindowController::~MainWindowController()
{
    assert(mainThread_.holds());
    // Once the slots are clear no call from the link is running or comes; calls already queued on
    // the main queue find the guard gone.
    setLinkDelegates(false);
    link_.setReverseControlDelegate(nullptr);
    // Nothing on "socketQueue" reaches this controller after it.
    relay_->shutdown();
    casting_->stopForDisconnect();
}

void MainWindowController::windowDidLoad()
{
    assert(mainThread_.holds());
    extendedScreen_->windowDidLoad();
    connection_->windowDidLoad();
    if (services_.roziPort)
        enableServer("127.0.0.1", *services_.roziPort);
    setLinkDelegates(true);
}

void MainWindowController::enableServer(const std::string& interface, uint16_t port)
{
    relay_->enableServer(interface, port);
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

void MainWindowController::windowWillClose()
{
    assert(mainThread_.holds());
    PUtils::logRedirect(false);
    extendedScreen_->releaseDisplay();
}

void MainWindowController::inputIPTextField(const std::string& text)
{
    assert(mainThread_.holds());
    connection_->inputIPTextField(text);
}

void MainWindowController::arrowButton(const std::string& text)
{
    inputIPTextField(text);
}

void MainWindowController::connectDevice(const std::string& ip)
{
    assert(mainThread_.holds());
    connection_->connectDevice(ip);
}

void MainWindowController::clickDisConnectBtn()
{
    assert(mainThread_.holds());
    connection_->clickDisConnectBtn();
}

void MainWindowController::clickBallbtn()
{
    assert(mainThread_.holds());
    senders_->clickBallbtn();
}

void MainWindowController::clickBallNumBtn()
{
    clickBallbtn();
}

void MainWindowController::clickBesideConnectList()
{
    assert(mainThread_.holds());
    senders_->clickBesideConnectList();
}

void MainWindowController::cancelDeviceNameButton()
{
    assert(mainThread_.holds());
    senders_->cancelDeviceNameButton();
}

void MainWindowController::inputDeviceNameButton(const std::string& name)
{
    assert(mainThread_.holds());
    senders_->inputDeviceNameButton(name);
}

void MainWindowController::hiddenConnectList()
{
    assert(mainThread_.holds());
    senders_->hiddenConnectList();
}

void MainWindowController::reportConnectNum(size_t count)
{
    assert(mainThread_.holds());
    senders_->reportConnectNum(count);
}

void MainWindowController::showChangeDeviceWindow()
{
    assert(mainThread_.holds());
    senders_->showChangeDeviceWindow();
}

void MainWindowController::clickScreen(bool screenButtonOn)
{
    assert(mainThread_.holds());
    casting_->clickScreen(screenButtonOn);
}

void MainWindowController::clickStopScreenBtn()
{
    assert(mainThread_.holds());
    casting_->clickStopScreenBtn();
}

void MainWindowController::inputScreenProjectionCode(const std::string& typed)
{
    assert(mainThread_.holds());
    casting_->inputScreenProjectionCode(typed);
}

void MainWindowController::cancelScreenProjectionCodeButton()
{
    assert(mainThread_.holds());
    casting_->cancelScreenProjectionCodeButton();
}

void MainWindowController::clickMirrorBtn(bool mirrorButtonOn)
{
    assert(mainThread_.holds());
    viewing_->clickMirrorBtn(mirrorButtonOn);
}

void MainWindowController::clickStopMirrorBtn()
{
    assert(mainThread_.holds());
    viewing_->clickStopMirrorBtn();
}

void MainWindowController::reportSoundSwitchState(bool on)
{
    assert(mainThread_.holds());
    casting_->reportSoundSwitchState(on);
}

void MainWindowController::userChangeVideoQuality()
{
    assert(mainThread_.holds());
    casting_->userChangeVideoQuality();
}

void MainWindowController::refreshTvDevicesName()
{
    assert(mainThread_.holds());
    senders_->refreshTvDevicesName();
}

void MainWindowController::toWindowInfoView()
{
    assert(mainThread_.holds());
    windowCast_->toWindowInfoView();
}

void MainWindowController::goWindowInfo()
{
    assert(mainThread_.holds());
    windowCast_->goWindowInfo();
}

void MainWindowController::goBack()
{
    assert(mainThread_.holds());
    windowCast_->goBack();
}

void MainWindowController::clickStartWindowScreen()
{
    assert(mainThread_.holds());
    windowCast_->clickStartWindowScreen();
}

void MainWindowController::pauseWindowScreen()
{
    assert(mainThread_.holds());
    windowCast_->pauseWindowScreen();
}

void MainWindowController::selectWindow(std::shared_ptr<windowInfo> window)
{
    assert(mainThread_.holds());
    windowCast_->selectWindow(std::move(window));
}

void MainWindowController::selectExpand()
{
    assert(mainThread_.holds());
    windowCast_->selectExpand();
}

void MainWindowController::setLinkDelegates(bool on)
{
    link_.setConnectDelegate(on ? this : nullptr);
    link_.setActiveVersionsDelegate(on ? this : nullptr);
    link_.setRoziDelegate(on ? this : nullptr);
}

void MainWindowController::onReveiveCameraVideoData(const uint8_t* data, int64_t len)
{
    relay_->onReveiveCameraVideoData(data, len);
}

void MainWindowController::handleMicDataToDecode(const uint8_t* data, int len)
{
    relay_->handleMicDataToDecode(data, len);
}

void MainWindowController::showRoziTipWindow(int code, int64_t type)
{
    relay_->showRoziTipWindow(code, type);
}

void MainWindowController::tvOpenRozi(const std::string& device)
{
    relay_->tvOpenRozi(device);
}

void MainWindowController::enableRoziFunction(bool enable)
{
    relay_->enableRoziFunction(enable);
}

void MainWindowController::onConnectSuccess(const std::string& name)
{
    guard_.post([this, name] { connection_->onConnectSuccess(name); });
}

void MainWindowController::onConnectFail()
{
    guard_.post([this] { connection_->onConnectFail(); });
}

void MainWindowController::onDisConnect()
{
    guard_.post([this] { connection_->onDisConnect(); });
}

void MainWindowController::onReceiveScreenCode(const std::string& code)
{
    guard_.post([this, code] { connection_->onReceiveScreenCode(code); });
}

void MainWindowController::onVideoQuality(int level, int width, int height, int fps)
{
    guard_.post([=, this] { casting_->onVideoQuality(level, width, height, fps); });
}

void MainWindowController::onTvcontrolReceived(int type, const uint8_t* data, int64_t len)
{
    // The payload is valid during this call only.
    std::vector<uint8_t> payload(data, data + (len > 0 ? len : 0));
    guard_.post([this, type, payload = std::move(payload)] { tvControl_->onTvcontrolReceived(type, payload); });
}

void MainWindowController::tvRequestMirror()
{
    guard_.post([this] { casting_->tvRequestMirror(); });
}

void MainWindowController::tvIntErruptMirror()
{
    guard_.post([this] { casting_->tvIntErruptMirror(); });
}

void MainWindowController::tvMirrorLock()
{
    guard_.post([this] { casting_->tvMirrorLock(); });
}

void MainWindowController::connectListMessage(const std::string& json)
{
    guard_.post([this, json] { senders_->connectListMessage(json); });
}

void MainWindowController::changeButtonName(int64_t index, int status)
{
    guard_.post([this, index, status] { senders_->changeButtonName(index, status); });
}

void MainWindowController::tvShareFile2pc(const std::string& json)
{
    guard_.post([this, json] { fileOffers_->tvShareFile2pc(json); });
}

void MainWindowController::supportChangeQuality(bool support)
{
    guard_.post([this, support] { casting_->supportChangeQuality(support); });
}

void MainWindowController::onReceiveScreenReaolution(int width, int height)
{
    // Receive thread: the answer goes out from here; the window's sizing hops to the main queue itself.
    viewing_->onReceiveScreenReaolution(width, height);
}

void MainWindowController::onReveiveScreenVideoData(const uint8_t* data, int64_t len)
{
    // Video delivery thread: the packet goes on to the display queue, never through the main thread.
    viewing_->onReveiveScreenVideoData(data, len);
}

void MainWindowController::tvScreenStop()
{
    guard_.post([this] { viewing_->tvScreenStop(); });
}

void MainWindowController::tvScreenFail(int reason)
{
    guard_.post([this, reason] { viewing_->tvScreenFail(reason); });
}

void MainWindowController::tvKeyHandle(int keyCode)
{
    guard_.post([this, keyCode] { tvControl_->tvKeyHandle(keyCode); });
}

void MainWindowController::pushFileSuccess()
{
    guard_.post([this] { fileWindow_->pushFileSuccess(); });
}

void MainWindowController::tvInviteToReverse()
{
    guard_.post([this] { viewing_->tvInviteToReverse(); });
}

void MainWindowController::activeVersionHandler(int level)
{
    guard_.post([this, level] { senders_->activeVersionHandler(level); });
}

void MainWindowController::isSpeakerHandler(bool speaker)
{
    guard_.post([this, speaker] { senders_->isSpeakerHandler(speaker); });
}

void MainWindowController::stopScreenFunction()
{
    guard_.post([this] { windowCast_->stopScreenFunction(); });
}
