#include "Socket/TCPManager.h"

#include "Platform/MainQueue.h"
#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/CapabilityFlagPayload.h"
#include "Socket/CastVideoFormatPayload.h"
#include "Socket/DelegateSlot.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/Int32Payload.h"
#include "Socket/LocalSystemInfo.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/ROZIOperationDelegate.h"
#include "Socket/ResendSpsPpsFlag.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "Socket/VXTcpReverseVersionDelegate.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <limits>
#include <utility>
#include <vector>

// The slots live apart from the manager so that a call posted to the main queue can outlive it.
struct TCPManager::Delegates {
    DelegateSlot<VXTcpConnectDelegate> connect;
    DelegateSlot<VXTcpReverseControlDelegate> reverseControl;
    DelegateSlot<VXTcpReverseVersionDelegate> reverseVersion;
    DelegateSlot<ROZIOperationDelegate> rozi;
    DelegateSlot<ActiveVersionsDelegate> activeVersions;
};

namespace {

// The reason TCPManager gives every disconnect.
constexpr uint8_t kCloseReason = 1;
// showRoziTipWindow types.
constexpr int64_t kRoziTipMic = 1;
constexpr int64_t kRoziTipCamera = 2;

int32_t intValue(std::span<const uint8_t> payload)
{
    return Int32Payload::decode(payload).value;
}

// A text payload: UTF-8 up to its first NUL or its end.
std::string textOf(std::span<const uint8_t> payload)
{
    return ByteReader(payload).text();
}

} // namespace

TCPManager& TCPManager::sharedManager()
{
    static TCPManager* const manager = new TCPManager();
    return *manager;
}

TCPManager::TCPManager() : TCPManager(Options{}) {}

TCPManager::TCPManager(Options options)
    : info_{.fn = &TCPManager::onTcpEvent, .user = this},
      delegates_(std::make_shared<Delegates>()),
      processQueue_(SerialQueue::create("queue")),
      keyExchange_(std::move(options.keyExchange)),
      pointerFilter_(options.pointerFilter ? *options.pointerFilter : PointerFilter::shared()),
      tcpClient_(std::make_unique<TcpClient>(&info_, options.timing)),
      connectOverTimer_(MainQueue::shared(), [this] { serverInfoOverTime(); })
{
}

TCPManager::~TCPManager()
{
    endLink();
    // The first wait lets a connect under way close what it made, whose end it queues behind the
    // wait; the second runs that end before the client goes.
    processQueue_->sync([] {});
    processQueue_->sync([] {});
    tcpClient_.reset();
}

void TCPManager::setConnectDelegate(VXTcpConnectDelegate* delegate)
{
    delegates_->connect.set(delegate);
}

void TCPManager::setReverseControlDelegate(VXTcpReverseControlDelegate* delegate)
{
    delegates_->reverseControl.set(delegate);
}

void TCPManager::setReverseVersionDelegate(VXTcpReverseVersionDelegate* delegate)
{
    delegates_->reverseVersion.set(delegate);
}

void TCPManager::setRoziDelegate(ROZIOperationDelegate* delegate)
{
    delegates_->rozi.set(delegate);
}

void TCPManager::setActiveVersionsDelegate(ActiveVersionsDelegate* delegate)
{
    delegates_->activeVersions.set(delegate);
}

VXTcpConnectDelegate* TCPManager::connectDelegate() const
{
    return delegates_->connect.get();
}

VXTcpReverseControlDelegate* TCPManager::reverseControlDelegate() const
{
    return delegates_->reverseControl.get();
}

VXTcpReverseVersionDelegate* TCPManager::reverseVersionDelegate() const
{
    return delegates_->reverseVersion.get();
}

ROZIOperationDelegate* TCPManager::roziDelegate() const
{
    return delegates_->rozi.get();
}

ActiveVersionsDelegate* TCPManager::activeVersionsDelegate() const
{
    return delegates_->activeVersions.get();
}

bool TCPManager::connectToHost(const std::string& host, uint16_t port)
{
    // Only a link the TV has answered counts as made: a retry after the wait ran out connects again.
    if (serverInfoArrived_ && tcpClient_->isConnectedTo(host)) {
        PLOG("already connected to %s", host.c_str());
        return false;
    }
    const uint64_t request = endLink();
    // Session queue, behind the end of the link just closed.
    processQueue_->async([this, request, host, port] { connectLink(request, host, port); });
    return true;
}

uint64_t TCPManager::endLink()
{
    uint64_t request = 0;
    {
        std::lock_guard lock(linkMutex_);
        request = connectRequest_.fetch_add(1) + 1;
        connectOverTimer_.cancel();
        serverInfoArrived_ = false;
    }
    tcpClient_->disconnect(kCloseReason);
    aesKey_.store(nullptr);
    return request;
}

void TCPManager::connectLink(uint64_t request, const std::string& host, uint16_t port)
{
    if (request != connectRequest_)
        return;
    // Joins every earlier link, so none of them raises an event once the count has moved on.
    tcpClient_->disconnect(kCloseReason);
    linkGeneration_.fetch_add(1);
    if (!tcpClient_->connect(host, port)) {
        if (request != connectRequest_)
            return;
        PLOG("connect to %s:%u failed", host.c_str(), port);
        // Main queue.
        MainQueue::shared()->async(
            [delegates = delegates_] { delegates->connect.call(&VXTcpConnectDelegate::onConnectFail); });
        return;
    }
    bool current = false;
    {
        // endLink can't cancel the wait before it starts, nor find it started after it ran.
        std::lock_guard lock(linkMutex_);
        current = request == connectRequest_;
        if (current)
            connectOverTimer_.start(kServerInfoTimeout);
    }
    if (!current) {
        PLOG("connect to %s:%u superseded: closing it", host.c_str(), port);
        supersededLink_ = linkGeneration_.load();
        tcpClient_->disconnect(kCloseReason);
        return;
    }
    // The receive thread may have seen the answer, and cancelled, before the timer started.
    if (serverInfoArrived_)
        connectOverTimer_.cancel();
    sendClientInfo();
}

// Main queue.
void TCPManager::serverInfoOverTime()
{
    PLOG("no server information within %lld ms", static_cast<long long>(kServerInfoTimeout.count()));
    delegates_->connect.call(&VXTcpConnectDelegate::onConnectFail);
}

bool TCPManager::sendType(int type, const uint8_t* data, int len)
{
    if (type < 0 || type > std::numeric_limits<uint16_t>::max()) {
        PLOG("message type %d does not exist: not sent", type);
        return false;
    }
    const int sent = tcpClient_->send(static_cast<uint16_t>(type), data, len);
    // 0 for a payload means the link closed while it was queued.
    return sent > 0 || (sent == 0 && len <= 0);
}

void TCPManager::sendVideoResolution(int width, int height, int mirrorType)
{
    const auto payload = CastVideoFormatPayload{.width = width, .height = height, .mirrorType = mirrorType}.encode();
    sendType(kMsgCastVideoFormat, payload.data(), static_cast<int>(payload.size()));
}

void TCPManager::sendClientInfo(const std::optional<std::string>& name)
{
    const ClientInfoRecord record{.osVersion = LocalSystemInfo::osVersionText(),
                                  .deviceName = name ? *name : LocalSystemInfo::loginName()};
    const auto payload = record.encode();
    sendType(kMsgClientInfo, payload.data(), static_cast<int>(payload.size()));
}

// The TV takes the format from the ADTS headers: the message says only that sound follows.
void TCPManager::sendAudioAACFormatChannels(int, int, int)
{
    sendType(kMsgCastAudioFormat, nullptr, 0);
}

std::string TCPManager::getConnectTvIp() const
{
    return tcpClient_->peerAddress();
}

void TCPManager::tcpClientRelease()
{
    endLink();
}

SessionKey TCPManager::aesKey() const
{
    return aesKey_.load();
}

void TCPManager::setAesKey(SessionKey key)
{
    aesKey_.store(std::move(key));
}

int TCPManager::onTcpEvent(void* user, TcpClient*, int type, const char*, const uint8_t* data, uint64_t,
                           uint32_t length)
{
    // Every event this manager reads carries its text in the payload too.
    static_cast<TCPManager*>(user)->handleEvent(type, data ? std::span<const uint8_t>(data, length)
                                                           : std::span<const uint8_t>());
    return 0;
}

// Transport thread. Blocks posted to processQueue_ run on the session queue. Values they use are
// copied out of the payload first: the transport reuses its buffers as soon as this returns.
void TCPManager::handleEvent(int type, std::span<const uint8_t> payload)
{
    Delegates& slots = *delegates_;
    switch (type) {
    case kMsgConnected:
    case kMsgFilePushIgnored:
        break;
    case kMsgDisconnected:
        handleDisconnected();
        break;
    case kMsgScreenCode:
        processQueue_->async([delegates = delegates_, code = textOf(payload)] {
            delegates->connect.call(&VXTcpConnectDelegate::onReceiveScreenCode, code);
        });
        break;
    case kMsgTvVersion: {
        const int32_t version = intValue(payload);
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::tvAppVersion, version);
        if (version > kRoziMinimumTvVersion)
            slots.rozi.call(&ROZIOperationDelegate::enableRoziFunction, true);
        break;
    }
    case kMsgTvScreenStop:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenStop);
        break;
    case kMsgTvScreenFail:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenFail, intValue(payload));
        break;
    case kMsgSpeakerStatus: {
        const bool speaker = intValue(payload) == 1;
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, speaker);
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, speaker);
        break;
    }
    case kMsgSpeakerRevoked: {
        const int32_t value = intValue(payload);
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, false);
        if (value == 1)
            slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, false);
        else if (value == 0)
            slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenStop);
        break;
    }
    case kMsgMirrorLocked:
        slots.connect.call(&VXTcpConnectDelegate::tvMirrorLock);
        break;
    case kMsgServerInfo:
        handleServerInfo(payload);
        break;
    case kMsgRequestSpsPps:
        gResendSpsPpsFlag = 1;
        break;
    case kMsgControlGranted:
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, true);
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::getWindowSizeSendTv, int{kMsgViewSize});
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, true);
        break;
    case kMsgClientList: {
        const std::string list = textOf(payload);
        PLOG("ball message:%s", list.c_str());
        slots.connect.call(&VXTcpConnectDelegate::connectListMessage, list);
        break;
    }
    case kMsgModeratorButton0:
    case kMsgModeratorButton1:
    case kMsgSplitScreen:
    case kMsgReverseSwitch: {
        const int64_t index = type == kMsgModeratorButton0   ? 0
                              : type == kMsgModeratorButton1 ? 1
                              : type == kMsgSplitScreen      ? 2
                                                             : 3;
        slots.connect.call(&VXTcpConnectDelegate::changeButtonName, index, intValue(payload));
        break;
    }
    case kMsgTvScreenResolution:
        if (const auto size = TvScreenResolutionPayload::decode(payload))
            slots.reverseControl.call(&VXTcpReverseControlDelegate::onReceiveScreenReaolution, size->width,
                   size->height);
        else
            PLOG("screen resolution of %zu bytes dropped: it needs 8", payload.size());
        break;
    case kMsgVideoFrame:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::onReveiveScreenVideoData, payload.data(),
               static_cast<int64_t>(payload.size()));
        break;
    case kMsgTvRequestCast:
        processQueue_->async(
            [delegates = delegates_] { delegates->connect.call(&VXTcpConnectDelegate::tvRequestMirror); });
        break;
    case kMsgTvInterruptCast:
        processQueue_->async(
            [delegates = delegates_] { delegates->connect.call(&VXTcpConnectDelegate::tvIntErruptMirror); });
        break;
    case kMsgVideoQuality:
        if (const auto quality = VideoQualityPayload::decode(payload)) {
            processQueue_->async([delegates = delegates_, q = *quality] {
                delegates->connect.call(&VXTcpConnectDelegate::onVideoQuality, q.level, q.width, q.height, q.fps);
            });
        } else {
            PLOG("video quality of %zu bytes dropped: it needs 20", payload.size());
        }
        break;
    case kMsgClientInfoRequest:
        sendClientInfo();
        break;
    case kMsgFilePushAck:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::pushFileSuccess);
        break;
    case kMsgKeyCode:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvKeyHandle,
               Int32Payload::decodeLittleEndian(payload).value);
        break;
    case kMsgTouchDown:
    case kMsgTouchMove:
    case kMsgTouchUp:
        handleTouch(type, payload);
        break;
    case kMsgCameraOpenRequest:
        slots.rozi.call(&ROZIOperationDelegate::tvOpenRozi, std::string("CAMERA"));
        break;
    case kMsgMicOpenRequest:
        slots.rozi.call(&ROZIOperationDelegate::tvOpenRozi, std::string("MIC"));
        break;
    case kMsgCameraError:
    case kMsgCameraClose:
        slots.rozi.call(&ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipCamera);
        break;
    case kMsgMicError:
    case kMsgMicClose:
        slots.rozi.call(&ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipMic);
        break;
    case kMsgCameraData:
        slots.rozi.call(&ROZIOperationDelegate::onReveiveCameraVideoData, payload.data(),
               static_cast<int64_t>(payload.size()));
        break;
    case kMsgMicData:
        slots.rozi.call(&ROZIOperationDelegate::handleMicDataToDecode, payload.data(),
               static_cast<int>(payload.size()));
        break;
    case kMsgActiveVersion:
        slots.activeVersions.call(&ActiveVersionsDelegate::activeVersionHandler, intValue(payload));
        break;
    case kMsgRoziEnable:
        slots.rozi.call(&ROZIOperationDelegate::enableRoziFunction, CapabilityFlagPayload::decode(payload).flag != 0);
        break;
    case kMsgKeyExchangeOffer:
        handleKeyExchange(payload);
        break;
    case kMsgFileShareOffer:
        slots.connect.call(&VXTcpConnectDelegate::tvShareFile2pc, textOf(payload));
        break;
    case kMsgReverseInvite:
        // Runs on the main queue; reaches the delegate even if the link ends meanwhile.
        MainQueue::shared()->asyncAfter(kReverseInviteDelay, [delegates = delegates_] {
            delegates->reverseControl.call(&VXTcpReverseControlDelegate::tvInviteToReverse);
        });
        break;
    case kMsgClientRemove:
        tcpClientRelease();
        break;
    case kMsgQualityChangeSupport:
        slots.connect.call(&VXTcpConnectDelegate::supportChangeQuality,
               CapabilityFlagPayload::decode(payload).flag != 0);
        break;
    default:
        PLOG("unprocessed message 0x%x", static_cast<unsigned>(type));
        break;
    }
}

// Receive thread of the link that ended.
void TCPManager::handleDisconnected()
{
    const uint64_t generation = linkGeneration_.load();
    if (generation == supersededLink_)
        return;
    serverInfoArrived_ = false;
    aesKey_.store(nullptr);
    // Session queue, where links are opened: a newer link counted its generation there already.
    processQueue_->async([this, generation] {
        if (generation == linkGeneration_.load())
            tcpClient_->disconnect(kCloseReason);
        delegates_->connect.call(&VXTcpConnectDelegate::onDisConnect);
    });
}

// Receive thread.
void TCPManager::handleServerInfo(std::span<const uint8_t> payload)
{
    const auto record = ServerInfoRecord::decode(payload);
    if (!record) {
        PLOG("server information of %zu bytes dropped: the name lies at offset 40", payload.size());
        return;
    }
    serverInfoArrived_ = true;
    connectOverTimer_.cancel();
    processQueue_->async([delegates = delegates_, name = record->name] {
        delegates->connect.call(&VXTcpConnectDelegate::onConnectSuccess, name);
    });
}

// Receive thread.
void TCPManager::handleTouch(int type, std::span<const uint8_t> payload)
{
    const auto touch = pointerFilter_.filter(type, payload);
    if (!touch)
        return;
    // Session queue, where the hold ends.
    processQueue_->async([delegates = delegates_, &filter = pointerFilter_, touch = *touch] {
        filter.willDeliver(touch.type);
        delegates->connect.call(&VXTcpConnectDelegate::onTvcontrolReceived, touch.type, touch.data.data(),
               static_cast<int64_t>(touch.data.size()));
    });
}

// Receive thread. The key is in place before the answer goes out.
void TCPManager::handleKeyExchange(std::span<const uint8_t> payload)
{
    const KeyExchange::Answer answer = keyExchange_.answer(payload);
    aesKey_.store(answer.key);
    sendType(answer.type, answer.payload.data(), static_cast<int>(answer.payload.size()));
}
