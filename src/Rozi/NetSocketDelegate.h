#pragma once

#include "Rozi/NetSocketData.h"
#include "Rozi/NetSocketError.h"
#include "Rozi/NetSocketTrust.h"

#include <atomic>
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
    // The callbacks a socket makes for every read and write: posting them costs a task on the delegate
    // queue each, so a socket skips those that the delegate leaves at their default.
    enum Frequent : uint32_t {
        DidReadData = 0x1,
        DidReadPartialData = 0x2,
        DidWriteData = 0x4,
        DidWritePartialData = 0x8,
    };

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
        leftAtDefault(DidReadPartialData);
    }
    virtual void didWriteDataWithTag(const Socket& sock, long tag)
    {
        (void)sock, (void)tag;
        leftAtDefault(DidWriteData);
    }
    virtual void didWritePartialDataOfLength(const Socket& sock, size_t partialLength, long tag)
    {
        (void)sock, (void)partialLength, (void)tag;
        leftAtDefault(DidWritePartialData);
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
    // A client that evaluates trust itself: the handshake waits until the completion is called
    // with the answer. A delegate that does not answer makes the TLS start fail.
    virtual void didReceiveTrust(
        const Socket& sock, const std::shared_ptr<const NetSocketTrust>& trust, NetSocketTrustCompletion completionHandler)
    {
        (void)sock, (void)trust;
        completionHandler.cannotAnswer();
    }

    // False once the default body of the callback has run: the delegate does not implement it.
    bool implements(Frequent callback) const { return (atDefault_.load(std::memory_order_relaxed) & callback) == 0; }

private:
    void leftAtDefault(Frequent callback) { atDefault_.fetch_or(callback, std::memory_order_relaxed); }

    std::atomic<uint32_t> atDefault_{0};
};
