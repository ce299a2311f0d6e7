#include "Rozi/RoziRelay.h"

#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocket.h"
#include "Socket/MessageType.h"
#include "Utils/LocalizedText.h"
#include "Utils/Log.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

namespace {

constexpr int64_t kTypeMic = 1;
constexpr int64_t kTypeCamera = 2;
constexpr double kNoTimeout = -1;

std::string describe(NetSocket& socket)
{
    return socket.connectedHost().value_or("?") + ":" + std::to_string(socket.connectedPort());
}

} // namespace

std::shared_ptr<RoziRelay> RoziRelay::create(Services services)
{
    return std::shared_ptr<RoziRelay>(new RoziRelay(std::move(services)));
}

RoziRelay::RoziRelay(Services services)
    : services_(std::move(services)), socketQueue_(SerialQueue::create("socketQueue"))
{
}

RoziRelay::~RoziRelay() = default;

std::optional<int32_t> RoziRelay::clientName(std::span<const uint8_t> chunk)
{
    if (chunk.size() < 4)
        return std::nullopt;
    return static_cast<int32_t>(uint32_t(chunk[0]) | uint32_t(chunk[1]) << 8 | uint32_t(chunk[2]) << 16 |
                                uint32_t(chunk[3]) << 24);
}

std::string RoziRelay::cameraOpenErrorMsg(int value)
{
    switch (value) {
    case -5: return LocalizedText::text("STRING_ROZI_DEVICE_UP");
    case -4: return LocalizedText::text("STRING_ROZI_DEVICE_CLOSE");
    case -3: return LocalizedText::text("STRING_ROZI_ONLY_SPEAKER");
    case -2: return LocalizedText::text("STRING_ROZI_REFUSE");
    case -1: return LocalizedText::text("STRING_ROZI_OCCUPIED");
    case 0: return LocalizedText::text("STRING_ROZI_NO_DEVICE");
    case 1: return LocalizedText::text("STRING_ROZI_CHANGE_SPEAKER");
    default: return LocalizedText::text("STRING_ROZI_UNKNOW_ERROR");
    }
}

bool RoziRelay::enableServer(const std::string& interface, uint16_t port)
{
    bool listening = false;
    socketQueue_->sync([&] {
        if (shutDown_ || listenSocket_)
            return;
        auto socket = NetSocket::create(weak_from_this(), socketQueue_);
        NetSocketError error;
        if (!socket->acceptOnInterface(interface, port, &error)) {
            PLOG("rozi server open fail...error=%s", error.description.c_str());
            return;
        }
        PLOG("rozi server open success...");
        listenSocket_ = std::move(socket);
        listening = true;
    });
    return listening;
}

RoziRelay::Status RoziRelay::status()
{
    Status status;
    socketQueue_->sync([&] {
        status = {.isCameraConnect = isCameraConnect_,
                  .isMicConnect = isMicConnect_,
                  .roziFlag = roziFlag_,
                  .clients = connectedSockets_.size(),
                  .unknownChunks = unknownChunks_};
    });
    return status;
}

uint16_t RoziRelay::serverPort()
{
    uint16_t port = 0;
    socketQueue_->sync([&] { port = listenSocket_ ? listenSocket_->localPort() : 0; });
    return port;
}

void RoziRelay::shutdown()
{
    std::vector<std::shared_ptr<NetSocket>> sockets;
    socketQueue_->sync([&] {
        shutDown_ = true;
        stopTimer();
        // Closed outside the queue: a socket's close waits for its own queue, never for this one.
        sockets.push_back(std::exchange(listenSocket_, nullptr));
        for (Client& c : connectedSockets_)
            sockets.push_back(std::move(c.socket));
        connectedSockets_.clear();
        sockets.push_back(std::exchange(cameraSocket_, nullptr));
        sockets.push_back(std::exchange(microSocket_, nullptr));
    });
    for (const auto& socket : sockets) {
        if (socket)
            socket->disconnect();
    }
}

void RoziRelay::post(std::function<void(RoziRelay&)> work)
{
    socketQueue_->async([weak = weak_from_this(), work = std::move(work)] {
        // On "socketQueue".
        if (const auto relay = weak.lock(); relay && !relay->shutDown_)
            work(*relay);
    });
}

RoziRelay::Client* RoziRelay::client(const NetSocket* socket)
{
    const auto found = std::find_if(connectedSockets_.begin(), connectedSockets_.end(),
                                    [socket](const Client& c) { return c.socket.get() == socket; });
    return found == connectedSockets_.end() ? nullptr : &*found;
}

void RoziRelay::sendOpen(bool camera, const char* logLine)
{
    services_.send(camera ? kMsgCameraOpen : kMsgMicOpen);
    PLOG("%s", logLine);
}

void RoziRelay::enableRoziFunction(bool enable)
{
    post([enable](RoziRelay& relay) {
        if (enable == relay.roziFlag_)
            return;
        relay.roziFlag_ = enable;
        if (!enable)
            return;
        if (relay.isCameraConnect_)
            relay.sendOpen(true, "send open camera message");
        if (relay.isMicConnect_)
            relay.sendOpen(false, "send open mic message");
    });
}

void RoziRelay::tvOpenRozi(const std::string& device)
{
    post([device](RoziRelay& relay) {
        if (!relay.roziFlag_)
            return;
        if (device == "CAMERA" && relay.isCameraConnect_)
            relay.sendOpen(true, "tv open rozi message,send open camera");
        else if (device == "MIC" && relay.isMicConnect_)
            relay.sendOpen(false, "tv open rozi message,send open microphone");
    });
}

void RoziRelay::setConnectWithTv(bool connected)
{
    post([connected](RoziRelay& relay) {
        relay.ConnectWithTv_ = connected;
        if (!connected)
            relay.roziFlag_ = false;
    });
}

void RoziRelay::presenterChanged(bool speaker)
{
    post([speaker](RoziRelay& relay) {
        if (!relay.roziFlag_)
            return;
        if (!speaker) {
            if (relay.isCameraConnect_)
                relay.tip(1, kTypeCamera);
            return;
        }
        if (relay.isCameraConnect_)
            relay.sendOpen(true, "send open camera message");
        if (relay.isMicConnect_)
            relay.sendOpen(false, "send open mic message");
    });
}

void RoziRelay::onReveiveCameraVideoData(const uint8_t* data, int64_t len)
{
    // The transport reuses its buffer once this returns.
    std::vector<uint8_t> bytes(data, data + std::max<int64_t>(len, 0));
    post([bytes = std::move(bytes)](RoziRelay& relay) mutable {
        relay.stopTimer();
        if (relay.isCameraConnect_)
            relay.write(relay.cameraSocket_, std::move(bytes), kCameraTag);
    });
}

void RoziRelay::handleMicDataToDecode(const uint8_t* data, int len)
{
    std::vector<uint8_t> bytes(data, data + std::max(len, 0));
    post([bytes = std::move(bytes)](RoziRelay& relay) mutable {
        if (relay.isMicConnect_)
            relay.write(relay.microSocket_, std::move(bytes), kMicTag);
    });
}

void RoziRelay::write(const std::shared_ptr<NetSocket>& socket, std::vector<uint8_t> bytes, long tag)
{
    Client* const c = client(socket.get());
    // A socket no longer in the list has gone: nothing would take the bytes.
    if (!c || bytes.empty())
        return;
    switch (c->queue.admit(bytes.size())) {
    case RoziWriteQueue::Admit::Queued:
        socket->writeData(std::move(bytes), kNoTimeout, tag);
        return;
    case RoziWriteQueue::Admit::DroppedFirst:
        PLOG("rozi client %s does not read: %zu bytes queued, dropping what comes until it reads",
             describe(*socket).c_str(), c->queue.queuedBytes());
        return;
    case RoziWriteQueue::Admit::Dropped:
        return;
    }
}

void RoziRelay::showRoziTipWindow(int value, int64_t type)
{
    post([value, type](RoziRelay& relay) { relay.tip(value, type); });
}

void RoziRelay::tip(int value, int64_t type)
{
    PLOG("Error: rozi error value = %d, type = %ld", value, static_cast<long>(type));
    if (!isCameraConnect_ && !isMicConnect_ && !roziFlag_)
        return;
    if (type == kTypeMic && !isMicConnect_)
        return;
    if (type == kTypeCamera) {
        if (!isCameraConnect_)
            return;
        startTimer();
    }
    services_.showTip(cameraOpenErrorMsg(value));
}

void RoziRelay::startTimer()
{
    stopTimer();
    timer_ = std::make_unique<DispatchTimer>(socketQueue_, [weak = weak_from_this()] {
        // On "socketQueue", so no keep-alive byte can follow camera data that stopped the timer.
        const auto relay = weak.lock();
        if (!relay || relay->shutDown_)
            return;
        if (relay->isCameraConnect_)
            relay->write(relay->cameraSocket_, {kKeepAlive}, kCameraTag);
        else
            relay->stopTimer();
    });
    timer_->start(std::chrono::seconds(0), std::chrono::seconds(1));
}

void RoziRelay::stopTimer()
{
    if (timer_) {
        timer_->cancel();
        // A handler may destroy its own timer.
        timer_.reset();
    }
}

void RoziRelay::didAcceptNewSocket(const Socket& /*sock*/, const Socket& newSocket)
{
    if (shutDown_)
        return; // dropped here, the child closes
    if (connectedSockets_.size() >= kMaxClients)
        closeOldestUnnamedClient();
    connectedSockets_.push_back({newSocket, RoziWriteQueue(services_.writeCap)});
    newSocket->readDataWithTimeout(kNoTimeout, 0);
}

void RoziRelay::didReadData(const Socket& sock, const NetSocketData& data, long /*tag*/)
{
    if (shutDown_)
        return;
    const std::optional<int32_t> name = clientName(data.span());
    if (name == kMicName) {
        microSocket_ = sock;
        isMicConnect_ = true;
        if (ConnectWithTv_ && roziFlag_)
            sendOpen(false, "send open mic message");
    } else if (name == kCameraName) {
        cameraSocket_ = sock;
        isCameraConnect_ = true;
        if (ConnectWithTv_ && roziFlag_)
            sendOpen(true, "send open camera message");
    } else {
        ++unknownChunks_;
        // A client that keeps sending what names nothing would fill the log: its first chunk is told.
        Client* const c = client(sock.get());
        if (!c || c->unknownChunks++ == 0)
            PLOG("unknow client => %s", describe(*sock).c_str());
    }
    sock->readDataWithTimeout(kNoTimeout, 0);
}

void RoziRelay::didWriteDataWithTag(const Socket& sock, long /*tag*/)
{
    if (Client* const c = client(sock.get()))
        c->queue.written();
}

void RoziRelay::socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>& /*error*/)
{
    // A socket closing as it is destroyed reports no socket: it was no client of ours any more.
    if (!sock || shutDown_)
        return;
    if (const Client* const c = client(sock.get()); c && c->unknownChunks > 1)
        PLOG("unknow client => %s left after %zu chunks that named nothing", describe(*sock).c_str(), c->unknownChunks);
    std::erase_if(connectedSockets_, [&](const Client& c) { return c.socket == sock; });
    // A client named both camera and microphone closes as both. Its name goes whether or not the relay
    // is on: a later enable must not open a device for a client that has left. The TV hears of it only
    // while the relay is on.
    if (sock == cameraSocket_) {
        cameraSocket_.reset();
        isCameraConnect_ = false;
        if (roziFlag_) {
            services_.send(kMsgCameraClose);
            PLOG("send close camera message");
        }
    }
    if (sock == microSocket_) {
        microSocket_.reset();
        isMicConnect_ = false;
        if (roziFlag_) {
            services_.send(kMsgMicClose);
            PLOG("send close mic message");
        }
    }
}

void RoziRelay::closeOldestUnnamedClient()
{
    const auto oldest = std::find_if(connectedSockets_.begin(), connectedSockets_.end(), [&](const Client& c) {
        return c.socket != cameraSocket_ && c.socket != microSocket_;
    });
    if (oldest == connectedSockets_.end())
        return;
    const std::shared_ptr<NetSocket> socket = std::move(oldest->socket);
    connectedSockets_.erase(oldest);
    PLOG("rozi server serves %zu clients at most: closing the oldest client that named nothing, %s", kMaxClients,
         describe(*socket).c_str());
    // Its own queue, which never waits for this one; its disconnect report finds it gone from the list.
    socket->disconnect();
}
