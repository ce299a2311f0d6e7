#pragma once

#include "Rozi/NetSocketData.h"
#include "Rozi/NetSocketError.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class NetSocket;
class SerialQueue;

// What a NetSocket reports, every call on its delegate queue. Each method is optional: its default
// does nothing or answers what the socket assumes of a delegate that does not implement it.
class NetSocketDelegate {
public:
    using Socket = std::shared_ptr<NetSocket>;

    virtual ~NetSocketDelegate() = default;

    // The socket queue of a connection about to be accepted; nullptr: a new one of its own.
    virtual std::shared_ptr<SerialQueue> newSocketQueueForConnectionFromAddress(
        const std::vector<uint8_t>& address, const Socket& sock)
    {
        (void)address;
        (void)sock;
        return nullptr;
    }
    // The child is connected already; the delegate must keep it, or it closes.
    virtual void didAcceptNewSocket(const Socket& sock, const Socket& newSocket) { (void)sock, (void)newSocket; }
    virtual void didConnectToHost(const Socket& sock, const std::string& host, uint16_t port)
    {
        (void)sock, (void)host, (void)port;
    }
    virtual void didConnectToUrl(const Socket& sock, const std::filesystem::path& url) { (void)sock, (void)url; }
    virtual void didReadData(const Socket& sock, const NetSocketData& data, long tag)
    {
        (void)sock, (void)data, (void)tag;
    }
    virtual void didReadPartialDataOfLength(const Socket& sock, size_t partialLength, long tag)
    {
        (void)sock, (void)partialLength, (void)tag;
    }
    virtual void didWriteDataWithTag(const Socket& sock, long tag) { (void)sock, (void)tag; }
    virtual void didWritePartialDataOfLength(const Socket& sock, size_t partialLength, long tag)
    {
        (void)sock, (void)partialLength, (void)tag;
    }
    // Seconds to extend a read that timed out; 0 or less lets it time out.
    virtual double shouldTimeoutReadWithTag(const Socket& sock, long tag, double elapsed, size_t bytesDone)
    {
        (void)sock, (void)tag, (void)elapsed, (void)bytesDone;
        return 0;
    }
    virtual double shouldTimeoutWriteWithTag(const Socket& sock, long tag, double elapsed, size_t bytesDone)
    {
        (void)sock, (void)tag, (void)elapsed, (void)bytesDone;
        return 0;
    }
    // Half duplex: the peer ended its side; writing goes on.
    virtual void socketDidCloseReadStream(const Socket& sock) { (void)sock; }
    // Once per started socket. `sock` is null when the socket closes because it is being destroyed;
    // no error for a close that was asked for.
    virtual void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>& error)
    {
        (void)sock, (void)error;
    }
    virtual void socketDidSecure(const Socket& sock) { (void)sock; }
};
