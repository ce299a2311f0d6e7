#include "Socket/TCPManager.h"

#include "Platform/MainQueue.h"
#include "Socket/CastVideoFormatPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/LocalSystemInfo.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/SessionEventDelivery.h"
#include "Socket/SessionEventTable.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Utils/Log.h"

#include <cassert>
#include <limits>
#include <utility>

namespace {

// The reason TCPManager gives every disconnect.
constexpr uint8_t kCloseReason = 1;

} // namespace

TCPManager& TCPManager::sharedManager()
{
    static TCPManager* const manager = new TCPManager();
    return *manager;
}

TCPManager::TCPManager() : TCPManager(Options{}) {}

TCPManager::TCPManager(Options options)
    : info_{.fn = &TCPManager::onTcpEvent, .user = this},
      delegates_(std::make_shared<SessionDelegates>()),
      processQueue_(FixedWidthQueue::create("queue", 1)),
      keyExchange_(std::move(options.keyExchange)),
      pointerFilter_(options.pointerFilter ? *options.pointerFilter : PointerFilter::shared()),
      tcpClient_(std::make_unique<TcpClient>(&info_, options.timing)),
      connectOverTimer_(MainQueue::shared(), [this] { serverInfoOverTime(); })
{
}

TCPManager::~TCPManager()
{
    // Either would wait for itself: the calls below wait for the queue, and for every delegate call.
    assert(!processQueue_->isCurrent() && "a session is never destroyed on its own queue");
    assert(!delegates_->calledHere() && "a session is never destroyed from one of its delegate calls");
    endLink();
    // The first wait lets a connect under way close what it made, whose end it queues behind the
    // wait; the second runs that end before the client goes.
    processQueue_->sync([] {});
    processQueue_->sync([] {});
    tcpClient_.reset();
}

void TCPManager::setConnectDelegate(VXTcpConnectDelegate* delegate)
{
    setDelegate<TvConnectionDelegate>(delegate);
    setDelegate<TvCastDelegate>(delegate);
    setDelegate<TvTouchDelegate>(delegate);
    setDelegate<TvSendersDelegate>(delegate);
    setDelegate<TvFileOfferDelegate>(delegate);
}

void TCPManager::setReverseControlDelegate(VXTcpReverseControlDelegate* delegate)
{
    setDelegate<TvScreenDelegate>(delegate);
    setDelegate<TvKeyDelegate>(delegate);
    setDelegate<TvFilePushDelegate>(delegate);
}

void TCPManager::setReverseVersionDelegate(VXTcpReverseVersionDelegate* delegate)
{
    setDelegate<VXTcpReverseVersionDelegate>(delegate);
}

void TCPManager::setRoziDelegate(ROZIOperationDelegate* delegate)
{
    setDelegate<ROZIOperationDelegate>(delegate);
}

void TCPManager::setActiveVersionsDelegate(ActiveVersionsDelegate* delegate)
{
    setDelegate<ActiveVersionsDelegate>(delegate);
}

VXTcpReverseVersionDelegate* TCPManager::reverseVersionDelegate() const
{
    return delegate<VXTcpReverseVersionDelegate>();
}

ROZIOperationDelegate* TCPManager::roziDelegate() const
{
    return delegate<ROZIOperationDelegate>();
}

ActiveVersionsDelegate* TCPManager::activeVersionsDelegate() const
{
    return delegate<ActiveVersionsDelegate>();
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
    assert(processQueue_->isCurrent());
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
            [delegates = delegates_] { delegates->call(&TvConnectionDelegate::onConnectFail); });
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
    assert(MainQueue::shared()->isCurrent());
    // The answer came as the wait ended: it is reported, and the link is made.
    if (serverInfoArrived_)
        return;
    PLOG("no server information within %lld ms: letting the link go",
         static_cast<long long>(kServerInfoTimeout.count()));
    delegates_->call(&TvConnectionDelegate::onConnectFail);
    // A link the TV does not answer is of no use: the TV is told so, and a retry starts afresh. Its
    // end is reported after the failure, like any other.
    endLink();
}

bool TCPManager::sendType(int type, const uint8_t* data, int len)
{
    if (type < 0 || type > std::numeric_limits<uint16_t>::max()) {
        PLOG("message type %d does not exist: not sent", type);
        return false;
    }
    const int sent = tcpClient_->send(static_cast<uint16_t>(type), data, len);
    // 0 for a payload means the link closed while it was queued.
    return sent > 0 || (sent == 0 && len == 0);
}

void TCPManager::dropQueuedMedia()
{
    tcpClient_->dropQueuedMedia();
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

// Transport thread.
void TCPManager::handleEvent(int type, std::span<const uint8_t> payload)
{
    const SessionEvent* event = SessionEventTable::find(type);
    if (!event) {
        PLOG("unprocessed message 0x%x", static_cast<unsigned>(type));
        return;
    }
    SessionEventDelivery delivery(event->delivery, delegates_, *this, *processQueue_, *MainQueue::shared());
    event->handle(delivery, type, payload);
}

// Receive thread of the link that ended.
std::optional<uint64_t> TCPManager::linkEnded()
{
    const uint64_t generation = linkGeneration_.load();
    if (generation == supersededLink_)
        return std::nullopt;
    serverInfoArrived_ = false;
    aesKey_.store(nullptr);
    return generation;
}

// Session queue, where links are opened: a newer link counted its generation there already.
void TCPManager::closeEndedLink(uint64_t generation)
{
    if (generation == linkGeneration_.load())
        tcpClient_->disconnect(kCloseReason);
}

// Receive thread.
void TCPManager::serverInfoArrived()
{
    serverInfoArrived_ = true;
    connectOverTimer_.cancel();
}

// Receive thread.
void TCPManager::answerClientInfoRequest()
{
    sendClientInfo();
}

// Receive thread. The key is in place before the answer goes out.
void TCPManager::answerKeyExchange(std::span<const uint8_t> offer)
{
    const KeyExchange::Answer answer = keyExchange_.answer(offer);
    aesKey_.store(answer.key);
    sendType(answer.type, answer.payload.data(), static_cast<int>(answer.payload.size()));
}

PointerFilter& TCPManager::pointerFilter()
{
    return pointerFilter_;
}
