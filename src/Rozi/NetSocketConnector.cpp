#include "Rozi/NetSocketConnector.h"

#include "Platform/DispatchTimer.h"
#include "Platform/FixedWidthQueue.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketHostLookup.h"
#include "Rozi/NetSocketInterface.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace {

DispatchQueue::Clock::duration toDuration(double seconds)
{
    return std::chrono::duration_cast<DispatchQueue::Clock::duration>(std::chrono::duration<double>(seconds));
}

NetSocketAddress::Data firstOfFamily(
    const std::vector<NetSocketAddress::Data>& addresses, bool (*isFamily)(const NetSocketAddress::Data&))
{
    const auto found = std::find_if(addresses.begin(), addresses.end(), isFamily);
    return found == addresses.end() ? NetSocketAddress::Data{} : *found;
}

} // namespace

NetSocketConnector::NetSocketConnector(NetSocketContext& context, NetSocketCloser& closer, Hooks hooks)
    : context_(context), closer_(closer), hooks_(std::move(hooks))
{
}

NetSocketConnector::~NetSocketConnector() = default;

bool NetSocketConnector::connectToHost(
    const std::string& host, uint16_t port, const std::string& interface, double timeout, NetSocketError* error)
{
    if (host.empty()) {
        NetSocketError::assign(error,
            NetSocketError::badParam(
                "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."));
        return false;
    }
    if (!hooks_.prepare(true, error) || !prepareInterface(interface, error))
        return false;
    context_.flags |= NetSocketFlag::Started;
    FixedWidthQueue::blockingCalls()->async(
        [weak = context_.self, queue = context_.socketQueue, host, port, stateIndex = context_.stateIndex, this] {
            // On "blocking": the resolver may keep it long, so the socket is not held meanwhile.
            NetSocketError lookupError;
            auto addresses = NetSocketHostLookup().lookupHost(host, port, &lookupError);
            queue->async([weak, stateIndex, addresses = std::move(addresses), lookupError, this]() mutable {
                // On the socket queue; the connector lives as long as the socket held here.
                const auto socket = weak.lock();
                if (socket && addresses)
                    lookupDidSucceed(stateIndex, std::move(*addresses));
                else if (socket)
                    lookupDidFail(stateIndex, lookupError);
            });
        });
    startConnectTimeout(timeout);
    return true;
}

bool NetSocketConnector::connectToAddress(
    const NetSocketAddress::Data& address, const std::string& interface, double timeout, NetSocketError* error)
{
    NetSocketAddress::Data address4;
    NetSocketAddress::Data address6;
    const char* problem = nullptr;
    if (NetSocketAddress::isIPv4Address(address))
        address4.assign(address.begin(), address.begin() + sizeof(sockaddr_in));
    else if (NetSocketAddress::isIPv6Address(address))
        address6.assign(address.begin(), address.begin() + sizeof(sockaddr_in6));
    else
        problem = "A valid IPv4 or IPv6 address was not given";
    if (!address4.empty() && (context_.config & NetSocketConfig::IPv4Disabled))
        problem = "IPv4 has been disabled and an IPv4 address was passed.";
    else if (!address6.empty() && (context_.config & NetSocketConfig::IPv6Disabled))
        problem = "IPv6 has been disabled and an IPv6 address was passed.";
    if (problem != nullptr) {
        NetSocketError::assign(error, NetSocketError::badParam(problem));
        return false;
    }
    if (!hooks_.prepare(true, error) || !prepareInterface(interface, error) ||
        !connectWithAddress(std::move(address4), std::move(address6), error))
        return false;
    context_.flags |= NetSocketFlag::Started;
    startConnectTimeout(timeout);
    return true;
}

bool NetSocketConnector::connectToUrl(const std::filesystem::path& url, double timeout, NetSocketError* error)
{
    sockaddr_un address{};
    socklen_t length = 0;
    if (!NetSocketAddress::unixAddress(url, &address, &length)) {
        NetSocketError::assign(error, NetSocketError::badParam("Invalid unix domain socket url."));
        return false;
    }
    if (!hooks_.prepare(false, error))
        return false;
    connectInterfaceUN_ = url;
    context_.flags |= NetSocketFlag::Started;
    NetSocketError failure;
    auto attempt = NetSocketConnectAttempt::create(
        context_, NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), length), {}, &failure);
    if (!attempt) {
        closer_.closeWithError(failure);
        NetSocketError::assign(error, failure);
        return false;
    }
    attempts_.push_back(std::move(attempt));
    attempts_.back()->start([this, stateIndex = context_.stateIndex](NetSocketConnectAttempt& done, int errorNumber) {
        attemptDone(done, errorNumber, stateIndex);
    });
    startConnectTimeout(timeout);
    return true;
}

bool NetSocketConnector::prepareInterface(const std::string& interface, NetSocketError* error)
{
    connectInterface4_.clear();
    connectInterface6_.clear();
    return interface.empty() ||
        NetSocketInterface::resolve(interface, 0, context_.config, &connectInterface4_, &connectInterface6_, error);
}

void NetSocketConnector::lookupDidSucceed(uint64_t stateIndex, std::vector<NetSocketAddress::Data> addresses)
{
    if (stateIndex != context_.stateIndex)
        return;
    NetSocketAddress::Data address4 = firstOfFamily(addresses, NetSocketAddress::isIPv4Address);
    NetSocketAddress::Data address6 = firstOfFamily(addresses, NetSocketAddress::isIPv6Address);
    const bool ipv4Disabled = context_.config & NetSocketConfig::IPv4Disabled;
    const bool ipv6Disabled = context_.config & NetSocketConfig::IPv6Disabled;
    if (ipv4Disabled && address6.empty()) {
        closer_.closeWithError(NetSocketError::other("IPv4 has been disabled and DNS lookup found no IPv6 address."));
        return;
    }
    if (ipv6Disabled && address4.empty()) {
        closer_.closeWithError(NetSocketError::other("IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return;
    }
    // A disabled family is never tried, even when the name has an address of it.
    if (ipv4Disabled)
        address4.clear();
    if (ipv6Disabled)
        address6.clear();
    NetSocketError error;
    if (!connectWithAddress(std::move(address4), std::move(address6), &error))
        closer_.closeWithError(error);
}

void NetSocketConnector::lookupDidFail(uint64_t stateIndex, const NetSocketError& error)
{
    if (stateIndex == context_.stateIndex)
        closer_.closeWithError(error);
}

bool NetSocketConnector::connectWithAddress(
    NetSocketAddress::Data address4, NetSocketAddress::Data address6, NetSocketError* error)
{
    NetSocketError failure;
    std::unique_ptr<NetSocketConnectAttempt> attempt4;
    std::unique_ptr<NetSocketConnectAttempt> attempt6;
    if (!address4.empty())
        attempt4 = NetSocketConnectAttempt::create(context_, std::move(address4), connectInterface4_, &failure);
    if (!address6.empty())
        attempt6 = NetSocketConnectAttempt::create(context_, std::move(address6), connectInterface6_, &failure);
    if (!attempt4 && !attempt6) {
        NetSocketError::assign(error, failure);
        return false;
    }
    const bool primaryIsIPv6 = ((context_.config & NetSocketConfig::PreferIPv6) && attempt6) || !attempt4;
    auto primary = std::move(primaryIsIPv6 ? attempt6 : attempt4);
    auto other = std::move(primaryIsIPv6 ? attempt4 : attempt6);
    const uint64_t stateIndex = context_.stateIndex;
    attempts_.push_back(std::move(primary));
    attempts_.back()->start([this, stateIndex](NetSocketConnectAttempt& attempt, int errorNumber) {
        attemptDone(attempt, errorNumber, stateIndex);
    });
    if (other) {
        attempts_.push_back(std::move(other));
        alternate_ = context_.socketQueue->asyncAfterCancellable(
            toDuration(alternateAddressDelay_), [weak = context_.self, stateIndex, this] {
                // On the socket queue; the connector withdraws this task when the attempt ends.
                if (const auto socket = weak.lock())
                    startAlternate(stateIndex);
            });
    }
    return true;
}

void NetSocketConnector::startAlternate(uint64_t stateIndex)
{
    if (stateIndex != context_.stateIndex)
        return;
    for (const auto& attempt : attempts_) {
        if (!attempt->started()) {
            attempt->start([this, stateIndex](NetSocketConnectAttempt& done, int errorNumber) {
                attemptDone(done, errorNumber, stateIndex);
            });
        }
    }
}

void NetSocketConnector::attemptDone(NetSocketConnectAttempt& attempt, int errorNumber, uint64_t stateIndex)
{
    if (stateIndex != context_.stateIndex)
        return;
    const int family = attempt.family();
    if (errorNumber != 0) {
        if (family == AF_UNIX)
            std::fprintf(stderr, "connect: %s\n", std::strerror(errorNumber));
        std::erase_if(attempts_, [&](const auto& each) { return each.get() == &attempt; });
        // The other family may still be trying, or waiting for its turn.
        if (attempts_.empty())
            didNotConnect(stateIndex, NetSocketError::posix(errorNumber, "Error in connect() function"));
        return;
    }
    const int fd = attempt.release();
    (family == AF_INET ? context_.socket4FD : family == AF_INET6 ? context_.socket6FD : context_.socketUN) = fd;
    // The loser closes, whether it is still connecting or has not started yet.
    if (alternate_)
        std::exchange(alternate_, nullptr)->cancel();
    attempts_.clear();
    didConnect(stateIndex);
}

void NetSocketConnector::didNotConnect(uint64_t stateIndex, const NetSocketError& error)
{
    if (stateIndex == context_.stateIndex)
        closer_.closeWithError(error);
}

void NetSocketConnector::didConnect(uint64_t stateIndex)
{
    if (stateIndex != context_.stateIndex)
        return;
    context_.flags |= NetSocketFlag::Connected;
    endConnectTimeout();
    const int fd = context_.connectedFD();
    const NetSocketAddress::Data peer = NetSocketAddress::peerAddress(fd);
    std::string host;
    uint16_t port = 0;
    int family = 0;
    if (NetSocketAddress::getHost(&host, &port, &family, peer)) {
        context_.notifier.post([socket = context_.self.lock(), host, port](NetSocketDelegate& delegate) {
            delegate.didConnectToHost(socket, host, port);
        });
    } else if (context_.socketUN >= 0) {
        sockaddr_un address{};
        std::memcpy(&address, peer.data(), std::min(peer.size(), sizeof address));
        std::filesystem::path url = NetSocketAddress::urlFromSockaddrUN(address, socklen_t(peer.size()));
        if (url.empty())
            url = connectInterfaceUN_;
        context_.notifier.post([socket = context_.self.lock(), url](NetSocketDelegate& delegate) {
            delegate.didConnectToUrl(socket, url);
        });
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        closer_.closeWithError(NetSocketError::other("Error enabling non-blocking IO on socket (fcntl)"));
        return;
    }
    hooks_.connected(fd);
}

void NetSocketConnector::close()
{
    endConnectTimeout();
    if (alternate_)
        std::exchange(alternate_, nullptr)->cancel();
    attempts_.clear();
    connectInterfaceUN_.clear();
}

void NetSocketConnector::startConnectTimeout(double timeout)
{
    if (timeout < 0)
        return;
    if (!timer_) {
        timer_ = std::make_unique<DispatchTimer>(context_.socketQueue, [weak = context_.self, this] {
            // On the socket queue; the connector lives as long as the socket held here.
            if (const auto socket = weak.lock())
                doConnectTimeout();
        });
    }
    timer_->start(toDuration(timeout));
}

void NetSocketConnector::endConnectTimeout()
{
    if (timer_)
        timer_->cancel();
    ++context_.stateIndex;
    connectInterface4_.clear();
    connectInterface6_.clear();
}

void NetSocketConnector::doConnectTimeout()
{
    endConnectTimeout();
    closer_.closeWithError(NetSocketError::connectTimeout());
}
