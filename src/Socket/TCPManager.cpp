#include "Socket/TCPManager.h"

#include "Platform/MainQueue.h"
#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/CapabilityFlagPayload.h"
#include "Socket/CastVideoFormatPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/Int32Payload.h"
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

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

// The slots live apart from the manager so that a call posted to the main queue can outlive it.
struct TCPManager::Delegates {
    std::atomic<VXTcpConnectDelegate*> connect{nullptr};
    std::atomic<VXTcpReverseControlDelegate*> reverseControl{nullptr};
    std::atomic<VXTcpReverseVersionDelegate*> reverseVersion{nullptr};
    std::atomic<ROZIOperationDelegate*> rozi{nullptr};
    std::atomic<ActiveVersionsDelegate*> activeVersions{nullptr};
};

namespace {

// The reason TCPManager gives every disconnect.
constexpr uint8_t kCloseReason = 1;
// showRoziTipWindow types.
constexpr int64_t kRoziTipMic = 1;
constexpr int64_t kRoziTipCamera = 2;

// Calls the delegate in the slot, if there is one.
template <class Delegate, class... Params, class... Args>
void notify(const std::atomic<Delegate*>& slot, void (Delegate::*method)(Params...), Args&&... args)
{
    if (Delegate* delegate = slot.load(std::memory_order_acquire))
        (delegate->*method)(std::forward<Args>(args)...);
}

int32_t intValue(std::span<const uint8_t> payload)
{
    return Int32Payload::decode(payload).value;
}

// A text payload: UTF-8 up to its first NUL or its end.
std::string textOf(std::span<const uint8_t> payload)
{
    return ByteReader(payload).text();
}

// "major.minor.patch" from the kernel release ("6.1.0-18-amd64" gives "6.1.0"); missing numbers are 0.
std::string osVersionText()
{
    static const std::string text = [] {
        long major = 0;
        long minor = 0;
        long patch = 0;
        utsname names{};
        if (::uname(&names) == 0)
            std::sscanf(names.release, "%ld.%ld.%ld", &major, &minor, &patch);
        else
            PLOG_ERRNO("uname");
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%ld.%ld.%ld", major, minor, patch);
        return std::string(buffer);
    }();
    return text;
}

std::string loginName()
{
    std::vector<char> buffer(16'384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    for (const char* variable : {"USER", "LOGNAME"}) {
        if (const char* name = std::getenv(variable))
            return name;
    }
    return {};
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
    connectOverTimer_.cancel();
    {
        // A close still queued for this link then leaves the client alone.
        std::lock_guard lock(linkMutex_);
        tcpClient_->disconnect(kCloseReason);
        linkGeneration_.fetch_add(1);
    }
    tcpClient_.reset();
    processQueue_->sync([] {});
}

void TCPManager::setConnectDelegate(VXTcpConnectDelegate* delegate)
{
    delegates_->connect.store(delegate, std::memory_order_release);
}

void TCPManager::setReverseControlDelegate(VXTcpReverseControlDelegate* delegate)
{
    delegates_->reverseControl.store(delegate, std::memory_order_release);
}

void TCPManager::setReverseVersionDelegate(VXTcpReverseVersionDelegate* delegate)
{
    delegates_->reverseVersion.store(delegate, std::memory_order_release);
}

void TCPManager::setRoziDelegate(ROZIOperationDelegate* delegate)
{
    delegates_->rozi.store(delegate, std::memory_order_release);
}

void TCPManager::setActiveVersionsDelegate(ActiveVersionsDelegate* delegate)
{
    delegates_->activeVersions.store(delegate, std::memory_order_release);
}

VXTcpConnectDelegate* TCPManager::connectDelegate() const
{
    return delegates_->connect.load(std::memory_order_acquire);
}

VXTcpReverseControlDelegate* TCPManager::reverseControlDelegate() const
{
    return delegates_->reverseControl.load(std::memory_order_acquire);
}

VXTcpReverseVersionDelegate* TCPManager::reverseVersionDelegate() const
{
    return delegates_->reverseVersion.load(std::memory_order_acquire);
}

ROZIOperationDelegate* TCPManager::roziDelegate() const
{
    return delegates_->rozi.load(std::memory_order_acquire);
}

ActiveVersionsDelegate* TCPManager::activeVersionsDelegate() const
{
    return delegates_->activeVersions.load(std::memory_order_acquire);
}

bool TCPManager::connectToHost(const std::string& host, uint16_t port)
{
    {
        std::lock_guard lock(linkMutex_);
        // Only a link the TV has answered counts as made: a retry after the wait ran out connects again.
        if (serverInfoArrived_ && tcpClient_->isConnectedTo(host)) {
            PLOG("already connected to %s", host.c_str());
            return false;
        }
        // Joins the old link's threads, so its every event is raised before the count moves on.
        tcpClient_->disconnect(kCloseReason);
        linkGeneration_.fetch_add(1);
        serverInfoArrived_ = false;
    }
    if (!tcpClient_->connect(host, port)) {
        PLOG("connect to %s:%u failed", host.c_str(), port);
        notify(delegates_->connect, &VXTcpConnectDelegate::onConnectFail);
        return false;
    }
    sendClientInfo();
    connectOverTimer_.start(kServerInfoTimeout);
    // The receive thread may have seen the answer, and cancelled, before the timer started.
    if (serverInfoArrived_)
        connectOverTimer_.cancel();
    return true;
}

// Main queue.
void TCPManager::serverInfoOverTime()
{
    PLOG("no server information within %lld ms", static_cast<long long>(kServerInfoTimeout.count()));
    notify(delegates_->connect, &VXTcpConnectDelegate::onConnectFail);
}

void TCPManager::sendType(int type, const uint8_t* data, int len)
{
    if (type < 0 || type > std::numeric_limits<uint16_t>::max()) {
        PLOG("message type %d does not exist: not sent", type);
        return;
    }
    tcpClient_->send(static_cast<uint16_t>(type), data, len);
}

void TCPManager::sendVideoResolution(int width, int height, int mirrorType)
{
    const auto payload = CastVideoFormatPayload{.width = width, .height = height, .mirrorType = mirrorType}.encode();
    sendType(kMsgCastVideoFormat, payload.data(), static_cast<int>(payload.size()));
}

void TCPManager::sendClientInfo(const std::optional<std::string>& name)
{
    const ClientInfoRecord record{.osVersion = osVersionText(), .deviceName = name ? *name : loginName()};
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
    tcpClient_->disconnect(kCloseReason);
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
            notify(delegates->connect, &VXTcpConnectDelegate::onReceiveScreenCode, code);
        });
        break;
    case kMsgTvVersion: {
        const int32_t version = intValue(payload);
        notify(slots.reverseVersion, &VXTcpReverseVersionDelegate::tvAppVersion, version);
        if (version > kRoziMinimumTvVersion)
            notify(slots.rozi, &ROZIOperationDelegate::enableRoziFunction, true);
        break;
    }
    case kMsgTvScreenStop:
        notify(slots.reverseControl, &VXTcpReverseControlDelegate::tvScreenStop);
        break;
    case kMsgTvScreenFail:
        notify(slots.reverseControl, &VXTcpReverseControlDelegate::tvScreenFail, intValue(payload));
        break;
    case kMsgSpeakerStatus: {
        const bool speaker = intValue(payload) == 1;
        notify(slots.reverseVersion, &VXTcpReverseVersionDelegate::changeControlStatus, speaker);
        notify(slots.activeVersions, &ActiveVersionsDelegate::isSpeakerHandler, speaker);
        break;
    }
    case kMsgSpeakerRevoked: {
        const int32_t value = intValue(payload);
        notify(slots.activeVersions, &ActiveVersionsDelegate::isSpeakerHandler, false);
        if (value == 1)
            notify(slots.reverseVersion, &VXTcpReverseVersionDelegate::changeControlStatus, false);
        else if (value == 0)
            notify(slots.reverseControl, &VXTcpReverseControlDelegate::tvScreenStop);
        break;
    }
    case kMsgMirrorLocked:
        notify(slots.connect, &VXTcpConnectDelegate::tvMirrorLock);
        break;
    case kMsgServerInfo:
        handleServerInfo(payload);
        break;
    case kMsgRequestSpsPps:
        gResendSpsPpsFlag = 1;
        break;
    case kMsgControlGranted:
        notify(slots.reverseVersion, &VXTcpReverseVersionDelegate::changeControlStatus, true);
        notify(slots.reverseVersion, &VXTcpReverseVersionDelegate::getWindowSizeSendTv, int{kMsgViewSize});
        notify(slots.activeVersions, &ActiveVersionsDelegate::isSpeakerHandler, true);
        break;
    case kMsgClientList: {
        const std::string list = textOf(payload);
        PLOG("ball message:%s", list.c_str());
        notify(slots.connect, &VXTcpConnectDelegate::connectListMessage, list);
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
        notify(slots.connect, &VXTcpConnectDelegate::changeButtonName, index, intValue(payload));
        break;
    }
    case kMsgTvScreenResolution:
        if (const auto size = TvScreenResolutionPayload::decode(payload))
            notify(slots.reverseControl, &VXTcpReverseControlDelegate::onReceiveScreenReaolution, size->width,
                   size->height);
        else
            PLOG("screen resolution of %zu bytes dropped: it needs 8", payload.size());
        break;
    case kMsgVideoFrame:
        notify(slots.reverseControl, &VXTcpReverseControlDelegate::onReveiveScreenVideoData, payload.data(),
               static_cast<int64_t>(payload.size()));
        break;
    case kMsgTvRequestCast:
        processQueue_->async(
            [delegates = delegates_] { notify(delegates->connect, &VXTcpConnectDelegate::tvRequestMirror); });
        break;
    case kMsgTvInterruptCast:
        processQueue_->async(
            [delegates = delegates_] { notify(delegates->connect, &VXTcpConnectDelegate::tvIntErruptMirror); });
        break;
    case kMsgVideoQuality:
        if (const auto quality = VideoQualityPayload::decode(payload)) {
            processQueue_->async([delegates = delegates_, q = *quality] {
                notify(delegates->connect, &VXTcpConnectDelegate::onVideoQuality, q.level, q.width, q.height, q.fps);
            });
        } else {
            PLOG("video quality of %zu bytes dropped: it needs 20", payload.size());
        }
        break;
    case kMsgClientInfoRequest:
        sendClientInfo();
        break;
    case kMsgFilePushAck:
        notify(slots.reverseControl, &VXTcpReverseControlDelegate::pushFileSuccess);
        break;
    case kMsgKeyCode:
        notify(slots.reverseControl, &VXTcpReverseControlDelegate::tvKeyHandle,
               Int32Payload::decodeLittleEndian(payload).value);
        break;
    case kMsgTouchDown:
    case kMsgTouchMove:
    case kMsgTouchUp:
        handleTouch(type, payload);
        break;
    case kMsgCameraOpenRequest:
        notify(slots.rozi, &ROZIOperationDelegate::tvOpenRozi, std::string("CAMERA"));
        break;
    case kMsgMicOpenRequest:
        notify(slots.rozi, &ROZIOperationDelegate::tvOpenRozi, std::string("MIC"));
        break;
    case kMsgCameraError:
    case kMsgCameraClose:
        notify(slots.rozi, &ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipCamera);
        break;
    case kMsgMicError:
    case kMsgMicClose:
        notify(slots.rozi, &ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipMic);
        break;
    case kMsgCameraData:
        notify(slots.rozi, &ROZIOperationDelegate::onReveiveCameraVideoData, payload.data(),
               static_cast<int64_t>(payload.size()));
        break;
    case kMsgMicData:
        notify(slots.rozi, &ROZIOperationDelegate::handleMicDataToDecode, payload.data(),
               static_cast<int>(payload.size()));
        break;
    case kMsgActiveVersion:
        notify(slots.activeVersions, &ActiveVersionsDelegate::activeVersionHandler, intValue(payload));
        break;
    case kMsgRoziEnable:
        notify(slots.rozi, &ROZIOperationDelegate::enableRoziFunction, CapabilityFlagPayload::decode(payload).flag != 0);
        break;
    case kMsgKeyExchangeOffer:
        handleKeyExchange(payload);
        break;
    case kMsgFileShareOffer:
        notify(slots.connect, &VXTcpConnectDelegate::tvShareFile2pc, textOf(payload));
        break;
    case kMsgReverseInvite:
        // Runs on the main queue; reaches the delegate even if the link ends meanwhile.
        MainQueue::shared()->asyncAfter(kReverseInviteDelay, [delegates = delegates_] {
            notify(delegates->reverseControl, &VXTcpReverseControlDelegate::tvInviteToReverse);
        });
        break;
    case kMsgClientRemove:
        tcpClientRelease();
        break;
    case kMsgQualityChangeSupport:
        notify(slots.connect, &VXTcpConnectDelegate::supportChangeQuality,
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
    serverInfoArrived_ = false;
    // Session queue.
    processQueue_->async([this, generation] {
        {
            // Closes the ended link, unless connectToHost has replaced it meanwhile.
            std::lock_guard lock(linkMutex_);
            if (generation == linkGeneration_.load())
                tcpClient_->disconnect(kCloseReason);
        }
        notify(delegates_->connect, &VXTcpConnectDelegate::onDisConnect);
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
        notify(delegates->connect, &VXTcpConnectDelegate::onConnectSuccess, name);
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
        notify(delegates->connect, &VXTcpConnectDelegate::onTvcontrolReceived, touch.type, touch.data.data(),
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
