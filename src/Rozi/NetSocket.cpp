#include "Rozi/NetSocket.h"

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketFlags.h"

#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::shared_ptr<NetSocket> NetSocket::create(std::weak_ptr<NetSocketDelegate> delegate,
    std::shared_ptr<DispatchQueue> delegateQueue, std::shared_ptr<SerialQueue> socketQueue)
{
    std::shared_ptr<NetSocket> socket(
        new NetSocket(socketQueue ? std::move(socketQueue) : SerialQueue::create("NetSocket")));
    // Not shared yet: set before any task can run.
    socket->context_.self = socket;
    socket->context_.notifier.setDelegate(std::move(delegate));
    socket->context_.notifier.setDelegateQueue(std::move(delegateQueue));
    return socket;
}

NetSocket::NetSocket(std::shared_ptr<SerialQueue> socketQueue)
    : context_(std::move(socketQueue)), listener_(context_, *this,
                                            [this](NetSocketDescriptor fd, int family, NetSocketAddress::Data address) {
                                                handOver(std::move(fd), family, std::move(address));
                                            }),
      readPump_(context_, *this, tls_), writePump_(context_, *this, tls_), tls_(context_, *this, readPump_, writePump_),
      diagnostics_(context_),
      connector_(context_, *this,
          {[this](bool checkFamilies, NetSocketError* error) { return prepareTo("connect", checkFamilies, error); },
              [this](int fd) { setupReadAndWriteSourcesForNewlyConnectedSocket(fd); }})
{
}

NetSocket::~NetSocket()
{
    context_.socketQueue->sync([this] {
        context_.flags |= NetSocketFlag::Dealloc;
        closeWithError(std::nullopt);
        context_.notifier.clear();
    });
}

void NetSocket::performBlock(const std::function<void()>& task)
{
    context_.socketQueue->sync(task);
}

bool NetSocket::isOnSocketQueue() const
{
    return context_.socketQueue->isCurrent();
}

int NetSocket::socketFD() const
{
    if (!isOnSocketQueue())
        return -1;
    return context_.socket4FD >= 0 ? context_.socket4FD : context_.socket6FD;
}

int NetSocket::socket4FD() const
{
    return isOnSocketQueue() ? context_.socket4FD : -1;
}

int NetSocket::socket6FD() const
{
    return isOnSocketQueue() ? context_.socket6FD : -1;
}

ssl_st* NetSocket::sslContext() const
{
    return isOnSocketQueue() ? tls_.sslContext() : nullptr;
}

void NetSocket::post(std::function<void(NetSocket&)> work)
{
    context_.socketQueue->async([weak = weak_from_this(), work = std::move(work)] {
        if (const auto socket = weak.lock())
            work(*socket);
    });
}

void NetSocket::apply(std::function<void(NetSocket&)> work)
{
    if (isOnSocketQueue())
        work(*this);
    else
        post(std::move(work));
}

// Configuration ------------------------------------------------------------------------------------

std::weak_ptr<NetSocketDelegate> NetSocket::delegate()
{
    return context_.answer<std::weak_ptr<NetSocketDelegate>>([this] { return context_.notifier.delegate(); });
}

void NetSocket::setDelegate(std::weak_ptr<NetSocketDelegate> delegate)
{
    apply([delegate](NetSocket& socket) { socket.context_.notifier.setDelegate(delegate); });
}

void NetSocket::synchronouslySetDelegate(std::weak_ptr<NetSocketDelegate> delegate)
{
    performBlock([&] { context_.notifier.setDelegate(delegate); });
}

std::shared_ptr<DispatchQueue> NetSocket::delegateQueue()
{
    return context_.answer<std::shared_ptr<DispatchQueue>>([this] { return context_.notifier.delegateQueue(); });
}

void NetSocket::setDelegateQueue(std::shared_ptr<DispatchQueue> queue)
{
    apply([queue](NetSocket& socket) { socket.context_.notifier.setDelegateQueue(queue); });
}

void NetSocket::synchronouslySetDelegateQueue(std::shared_ptr<DispatchQueue> queue)
{
    performBlock([&] { context_.notifier.setDelegateQueue(queue); });
}

void NetSocket::getDelegate(std::weak_ptr<NetSocketDelegate>* delegate, std::shared_ptr<DispatchQueue>* queue)
{
    performBlock([&] {
        *delegate = context_.notifier.delegate();
        *queue = context_.notifier.delegateQueue();
    });
}

void NetSocket::setDelegate(std::weak_ptr<NetSocketDelegate> delegate, std::shared_ptr<DispatchQueue> queue)
{
    apply([delegate, queue](NetSocket& socket) {
        socket.context_.notifier.setDelegate(delegate);
        socket.context_.notifier.setDelegateQueue(queue);
    });
}

void NetSocket::synchronouslySetDelegate(
    std::weak_ptr<NetSocketDelegate> delegate, std::shared_ptr<DispatchQueue> queue)
{
    performBlock([&] {
        context_.notifier.setDelegate(delegate);
        context_.notifier.setDelegateQueue(queue);
    });
}

void NetSocket::setConfigBit(uint16_t bit, bool set)
{
    apply([bit, set](NetSocket& socket) {
        uint16_t& config = socket.context_.config;
        config = set ? uint16_t(config | bit) : uint16_t(config & ~bit);
    });
}

bool NetSocket::isIPv4Enabled()
{
    return context_.answer<bool>([this] { return !(context_.config & NetSocketConfig::IPv4Disabled); });
}

void NetSocket::setIPv4Enabled(bool enabled)
{
    setConfigBit(NetSocketConfig::IPv4Disabled, !enabled);
}

bool NetSocket::isIPv6Enabled()
{
    return context_.answer<bool>([this] { return !(context_.config & NetSocketConfig::IPv6Disabled); });
}

void NetSocket::setIPv6Enabled(bool enabled)
{
    setConfigBit(NetSocketConfig::IPv6Disabled, !enabled);
}

bool NetSocket::isIPv4PreferredOverIPv6()
{
    return context_.answer<bool>([this] { return !(context_.config & NetSocketConfig::PreferIPv6); });
}

void NetSocket::setIPv4PreferredOverIPv6(bool preferred)
{
    setConfigBit(NetSocketConfig::PreferIPv6, !preferred);
}

double NetSocket::alternateAddressDelay()
{
    return context_.answer<double>([this] { return connector_.alternateAddressDelay(); });
}

void NetSocket::setAlternateAddressDelay(double seconds)
{
    apply([seconds](NetSocket& socket) { socket.connector_.setAlternateAddressDelay(seconds); });
}

std::shared_ptr<void> NetSocket::userData()
{
    return context_.answer<std::shared_ptr<void>>([this] { return userData_; });
}

void NetSocket::setUserData(std::shared_ptr<void> data)
{
    apply([data](NetSocket& socket) {
        if (socket.userData_ != data)
            socket.userData_ = data;
    });
}

bool NetSocket::autoDisconnectOnClosedReadStream()
{
    return context_.answer<bool>([this] { return !(context_.config & NetSocketConfig::AllowHalfDuplexConnection); });
}

void NetSocket::setAutoDisconnectOnClosedReadStream(bool autoDisconnect)
{
    setConfigBit(NetSocketConfig::AllowHalfDuplexConnection, !autoDisconnect);
}

// Listening and accepting --------------------------------------------------------------------------

bool NetSocket::acceptOnInterface(const std::string& interface, uint16_t port, NetSocketError* error)
{
    return context_.answer<bool>([&] {
        return prepareTo("accept", true, error) && started(listener_.listenOnInterface(interface, port, error));
    });
}

bool NetSocket::acceptOnUrl(const std::filesystem::path& url, NetSocketError* error)
{
    return context_.answer<bool>(
        [&] { return prepareTo("accept", false, error) && started(listener_.listenOnUrl(url, error)); });
}

bool NetSocket::started(bool success)
{
    if (success)
        context_.flags |= NetSocketFlag::Started;
    return success;
}

bool NetSocket::prepareTo(const char* action, bool checkFamilies, NetSocketError* error)
{
    const std::string attempting = std::string("Attempting to ") + action;
    std::string problem;
    if (!context_.notifier.hasDelegate())
        problem = attempting + " without a delegate. Set a delegate first.";
    else if (!context_.notifier.delegateQueue())
        problem = attempting + " without a delegate queue. Set a delegate queue first.";
    else if (checkFamilies && (context_.config & NetSocketConfig::IPv4Disabled) &&
        (context_.config & NetSocketConfig::IPv6Disabled))
        problem = "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";
    else if (context_.has(NetSocketFlag::Started))
        problem = attempting + " while connected or accepting connections. Disconnect first.";
    if (!problem.empty()) {
        NetSocketError::assign(error, NetSocketError::badConfig(problem));
        return false;
    }
    readPump_.clear();
    writePump_.clear();
    return true;
}

void NetSocket::handOver(NetSocketDescriptor fd, int family, NetSocketAddress::Data address)
{
    const std::shared_ptr<DispatchQueue> queue = context_.notifier.delegateQueue();
    if (!queue)
        return; // nobody could take the connection: it closes here
    // Held by the task, so the descriptor closes even when the task never runs.
    auto accepted = std::make_shared<NetSocketDescriptor>(std::move(fd));
    queue->async([listener = shared_from_this(), delegate = context_.notifier.delegate().lock(), queue, accepted,
                     family, address = std::move(address)]() mutable {
        // On the delegate queue.
        auto socketQueue = delegate ? delegate->newSocketQueueForConnectionFromAddress(address, listener) : nullptr;
        const auto child = create(delegate, queue, std::move(socketQueue));
        child->adoptConnected(accepted->release(), family);
        if (delegate)
            delegate->didAcceptNewSocket(listener, child);
        // Let go on the queue, for a listener whose socket queue is this one (see NetSocketNotifier::post).
        listener.reset();
    });
}

void NetSocket::adoptConnected(int fd, int family)
{
    (family == AF_INET ? context_.socket4FD : family == AF_INET6 ? context_.socket6FD : context_.socketUN) = fd;
    context_.flags = NetSocketFlag::Started | NetSocketFlag::Connected;
    post([fd](NetSocket& socket) { socket.setupReadAndWriteSourcesForNewlyConnectedSocket(fd); });
}

void NetSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd)
{
    // Both sources share the descriptor; the last of their cancel handlers closes it.
    auto owner = std::make_shared<NetSocketDescriptor>(fd);
    const bool watching = readPump_.attach(fd, owner) && writePump_.attach(fd, owner);
    if (!readPump_.hasSource() && !writePump_.hasSource())
        owner->release(); // the close below closes it directly
    if (!watching) {
        closeWithError(NetSocketError::errnoError());
        return;
    }
    readPump_.maybeDequeue();
    writePump_.maybeDequeue();
}

// Connecting --------------------------------------------------------------------------------------

bool NetSocket::connectToHost(
    const std::string& host, uint16_t port, const std::string& interface, double timeout, NetSocketError* error)
{
    return context_.answer<bool>([&] { return connector_.connectToHost(host, port, interface, timeout, error); });
}

bool NetSocket::connectToAddress(
    const NetSocketAddress::Data& address, const std::string& interface, double timeout, NetSocketError* error)
{
    return context_.answer<bool>([&] { return connector_.connectToAddress(address, interface, timeout, error); });
}

bool NetSocket::connectToUrl(const std::filesystem::path& url, double timeout, NetSocketError* error)
{
    return context_.answer<bool>([&] { return connector_.connectToUrl(url, timeout, error); });
}

// Closing ------------------------------------------------------------------------------------------

void NetSocket::closeWithError(std::optional<NetSocketError> error)
{
    connector_.close();
    tls_.close();
    readPump_.clear();
    writePump_.clear();
    if (!listener_.hasSources() && !readPump_.hasSource() && !writePump_.hasSource()) {
        for (const int fd : {context_.socket4FD, context_.socket6FD, context_.socketUN}) {
            if (fd >= 0)
                ::close(fd);
        }
    } else {
        // The cancel handlers close the descriptors.
        listener_.cancelSources();
        readPump_.cancelSource();
        writePump_.cancelSource();
    }
    listener_.removeSocketFile();
    context_.socket4FD = context_.socket6FD = context_.socketUN = -1;
    const bool started = context_.has(NetSocketFlag::Started);
    context_.flags = 0;
    if (started) {
        context_.notifier.post([socket = context_.self.lock(), error = std::move(error)](
                                   NetSocketDelegate& delegate) { delegate.socketDidDisconnect(socket, error); });
    }
}

void NetSocket::maybeClose()
{
    const bool afterReads = context_.has(NetSocketFlag::DisconnectAfterReads);
    const bool afterWrites = context_.has(NetSocketFlag::DisconnectAfterWrites);
    const bool readsDone = !afterReads || !readPump_.busy();
    const bool writesDone = !afterWrites || !writePump_.busy();
    if ((afterReads || afterWrites) && readsDone && writesDone)
        closeWithError(std::nullopt);
}

void NetSocket::disconnect()
{
    performBlock([this] {
        if (context_.has(NetSocketFlag::Started))
            closeWithError(std::nullopt);
    });
}

void NetSocket::disconnectAfter(uint32_t bits)
{
    post([bits](NetSocket& socket) {
        if (!socket.context_.has(NetSocketFlag::Started))
            return;
        socket.context_.flags |= NetSocketFlag::ForbidReadsWrites | bits;
        socket.maybeClose();
    });
}

// Reading and writing ------------------------------------------------------------------------------

void NetSocket::enqueueRead(std::shared_ptr<NetSocketReadPacket> packet)
{
    post([packet = std::move(packet)](NetSocket& socket) { socket.readPump_.enqueue(packet); });
}

void NetSocket::readDataWithTimeout(double timeout, Buffer buffer, size_t offset, size_t maxLength, long tag)
{
    if (buffer && offset > buffer->size())
        return;
    enqueueRead(std::make_shared<NetSocketReadPacket>(
        std::move(buffer), offset, maxLength, timeout, 0, std::vector<uint8_t>{}, tag));
}

void NetSocket::readDataToLength(size_t length, double timeout, Buffer buffer, size_t offset, long tag)
{
    if (length == 0 || (buffer && offset > buffer->size()))
        return;
    enqueueRead(std::make_shared<NetSocketReadPacket>(
        std::move(buffer), offset, 0, timeout, length, std::vector<uint8_t>{}, tag));
}

void NetSocket::readDataToData(
    std::vector<uint8_t> term, double timeout, Buffer buffer, size_t offset, size_t maxLength, long tag)
{
    if (term.empty() || (buffer && offset > buffer->size()) || (maxLength > 0 && maxLength < term.size()))
        return;
    enqueueRead(
        std::make_shared<NetSocketReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, std::move(term), tag));
}

void NetSocket::writeData(std::shared_ptr<const std::vector<uint8_t>> data, double timeout, long tag)
{
    if (!data || data->empty())
        return;
    auto packet = std::make_shared<NetSocketWritePacket>(std::move(data), timeout, tag);
    post([packet = std::move(packet)](NetSocket& socket) { socket.writePump_.enqueue(packet); });
}

void NetSocket::startTLS(NetSocketTLSSettings settings)
{
    auto shared = std::make_shared<const NetSocketTLSSettings>(std::move(settings));
    post([shared](NetSocket& socket) { socket.tls_.queueStart(shared); });
}

float NetSocket::progressOfReadReturningTag(long* tag, size_t* done, size_t* total)
{
    return context_.answer<float>([&] { return readPump_.progress(tag, done, total); });
}

float NetSocket::progressOfWriteReturningTag(long* tag, size_t* done, size_t* total)
{
    return context_.answer<float>([&] { return writePump_.progress(tag, done, total); });
}
