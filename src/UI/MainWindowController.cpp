#include "UI/MainWindowController.h"

#include "Platform/CurlHttpClient.h"
#include "Platform/MainQueue.h"
#include "Socket/TCPManager.h"
#include "UI/CastingController.h"
#include "UI/ConnectionController.h"
#include "UI/FileOfferController.h"
#include "UI/FileWindowController.h"
#include "UI/MainWindowView.h"
#include "UI/SendersController.h"
#include "UI/TvControlController.h"
#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <cassert>
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
      fileWindow_(std::make_unique<FileWindowController>(*this)),
      fileOffers_(std::make_unique<FileOfferController>(view_, fileOfferServices(link_, state_, services_))),
      self_(std::make_shared<MainWindowController*>(this))
{
    assert(mainThread_.holds());
    link_.setReverseControlDelegate(this);
}

MainWindowController::~MainWindowController()
{
    assert(mainThread_.holds());
    // Once the slots are clear no call from the link is running or comes; calls already queued on
    // the main queue find self_ gone.
    setLinkDelegates(false);
    link_.setReverseControlDelegate(nullptr);
    self_.reset();
    casting_->stopForDisconnect();
}

void MainWindowController::windowDidLoad()
{
    assert(mainThread_.holds());
    connection_->windowDidLoad();
    setLinkDelegates(true);
}

void MainWindowController::setLinkDelegates(bool on)
{
    link_.setConnectDelegate(on ? this : nullptr);
    link_.setActiveVersionsDelegate(on ? this : nullptr);
}

void MainWindowController::onMain(std::function<void()> work)
{
    MainQueue::shared()->async([weak = std::weak_ptr(self_), work = std::move(work)] {
        if (weak.lock())
            work();
    });
}

void MainWindowController::onConnectSuccess(const std::string& name)
{
    onMain([this, name] { connection_->onConnectSuccess(name); });
}

void MainWindowController::onConnectFail()
{
    onMain([this] { connection_->onConnectFail(); });
}

void MainWindowController::onDisConnect()
{
    onMain([this] { connection_->onDisConnect(); });
}

void MainWindowController::onReceiveScreenCode(const std::string& code)
{
    onMain([this, code] { connection_->onReceiveScreenCode(code); });
}

void MainWindowController::onVideoQuality(int level, int width, int height, int fps)
{
    onMain([=, this] { casting_->onVideoQuality(level, width, height, fps); });
}

void MainWindowController::onTvcontrolReceived(int type, const uint8_t* data, int64_t len)
{
    // The payload is valid during this call only.
    std::vector<uint8_t> payload(data, data + (len > 0 ? len : 0));
    onMain([this, type, payload = std::move(payload)] { tvControl_->onTvcontrolReceived(type, payload); });
}

void MainWindowController::tvRequestMirror()
{
    onMain([this] { casting_->tvRequestMirror(); });
}

void MainWindowController::tvIntErruptMirror()
{
    onMain([this] { casting_->tvIntErruptMirror(); });
}

void MainWindowController::tvMirrorLock()
{
    onMain([this] { casting_->tvMirrorLock(); });
}

void MainWindowController::connectListMessage(const std::string& json)
{
    onMain([this, json] { senders_->connectListMessage(json); });
}

void MainWindowController::changeButtonName(int64_t index, int status)
{
    onMain([this, index, status] { senders_->changeButtonName(index, status); });
}

void MainWindowController::tvShareFile2pc(const std::string& json)
{
    onMain([this, json] { fileOffers_->tvShareFile2pc(json); });
}

void MainWindowController::supportChangeQuality(bool support)
{
    onMain([this, support] { casting_->supportChangeQuality(support); });
}

void MainWindowController::onReceiveScreenReaolution(int, int) {}

void MainWindowController::onReveiveScreenVideoData(const uint8_t*, int64_t) {}

void MainWindowController::tvScreenStop() {}

void MainWindowController::tvScreenFail(int) {}

void MainWindowController::tvKeyHandle(int keyCode)
{
    onMain([this, keyCode] { tvControl_->tvKeyHandle(keyCode); });
}

void MainWindowController::pushFileSuccess()
{
    onMain([this] { fileWindow_->pushFileSuccess(); });
}

void MainWindowController::tvInviteToReverse() {}

void MainWindowController::activeVersionHandler(int level)
{
    onMain([this, level] { senders_->activeVersionHandler(level); });
}

void MainWindowController::isSpeakerHandler(bool speaker)
{
    onMain([this, speaker] { senders_->isSpeakerHandler(speaker); });
}

void MainWindowController::stopScreenFunction()
{
    onMain([this] { casting_->stopScreenFunction(); });
}
