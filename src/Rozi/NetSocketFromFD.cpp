#include "Rozi/NetSocket.h"

#include "Platform/SerialQueue.h"

#include <netinet/in.h>
#include <sys/socket.h>

std::shared_ptr<NetSocket> NetSocket::socketFromConnectedSocketFD(
    int fd, std::shared_ptr<SerialQueue> socketQueue, NetSocketError* error)
{
    return socketFromConnectedSocketFD(fd, {}, nullptr, std::move(socketQueue), error);
}

std::shared_ptr<NetSocket> NetSocket::socketFromConnectedSocketFD(
    int fd, std::weak_ptr<NetSocketDelegate> delegate, std::shared_ptr<DispatchQueue> delegateQueue, NetSocketError* error)
{
    return socketFromConnectedSocketFD(fd, std::move(delegate), std::move(delegateQueue), nullptr, error);
}

std::shared_ptr<NetSocket> NetSocket::socketFromConnectedSocketFD(int fd, std::weak_ptr<NetSocketDelegate> delegate,
    std::shared_ptr<DispatchQueue> delegateQueue, std::shared_ptr<SerialQueue> socketQueue, NetSocketError* error)
{
    std::shared_ptr<NetSocket> socket = create(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
    std::optional<NetSocketError> failure;
    socket->performBlock([&] {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
            failure = NetSocketError::other("Attempt to create socket from socket FD failed. getpeername() failed");
        } else if (peer.ss_family != AF_INET && peer.ss_family != AF_INET6) {
            failure = NetSocketError::other(
                "Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor IPv6");
        } else {
            (peer.ss_family == AF_INET ? socket->context_.socket4FD : socket->context_.socket6FD) = fd;
            socket->context_.flags |= NetSocketFlag::Started;
            // As a connect that has just succeeded: the delegate hears of it, then reads and writes start.
            socket->didConnect(socket->context_.stateIndex);
        }
    });
    if (failure) {
        NetSocketError::assign(error, std::move(*failure));
        return nullptr;
    }
    return socket;
}
