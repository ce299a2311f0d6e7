#pragma once

#include "Rozi/NetSocketConnector.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDelegate.h"
#include "Rozi/NetSocketDiagnostics.h"
#include "Rozi/NetSocketError.h"
#include "Rozi/NetSocketHostLookup.h"
#include "Rozi/NetSocketListener.h"
#include "Rozi/NetSocketReadPump.h"
#include "Rozi/NetSocketTLS.h"
#include "Rozi/NetSocketTLSSettings.h"
#include "Rozi/NetSocketWritePump.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DispatchQueue;
class NetService;
class SerialQueue;

// An asynchronous TCP or unix-domain socket: it listens and accepts, or carries one connection,
// doing all its work on its own serial socket queue and reporting to its delegate on the delegate
// queue. Reads and writes are queued requests served one at a time per direction, each with a
// time-out (negative: none) and a tag. Every public method is safe from any thread; those that
// answer wait for the socket queue. The socket closes when its last owner lets go.
class NetSocket final : public std::enable_shared_from_this<NetSocket>, private NetSocketCloser {
public:
    using Buffer = std::shared_ptr<std::vector<uint8_t>>;

    // A socket queue of nullptr makes one labelled "NetSocket". The delegate is held weakly.
    static std::shared_ptr<NetSocket> create(std::weak_ptr<NetSocketDelegate> delegate = {},
        std::shared_ptr<DispatchQueue> delegateQueue = nullptr, std::shared_ptr<SerialQueue> socketQueue = nullptr);
    // Closes with no error; a started socket reports it to its delegate with a null socket.
    ~NetSocket();
    // A socket over a descriptor that is connected already; it owns the descriptor from then on.
    // Null, with a code 8 error, when the descriptor has no IPv4 or IPv6 peer.
    static std::shared_ptr<NetSocket> socketFromConnectedSocketFD(
        int fd, std::shared_ptr<SerialQueue> socketQueue, NetSocketError* error);
    static std::shared_ptr<NetSocket> socketFromConnectedSocketFD(int fd, std::weak_ptr<NetSocketDelegate> delegate,
        std::shared_ptr<DispatchQueue> delegateQueue, NetSocketError* error);
    static std::shared_ptr<NetSocket> socketFromConnectedSocketFD(int fd, std::weak_ptr<NetSocketDelegate> delegate,
        std::shared_ptr<DispatchQueue> delegateQueue, std::shared_ptr<SerialQueue> socketQueue, NetSocketError* error);
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Runs the task on the socket queue and waits for it; inline when already there.
    void performBlock(const std::function<void()>& task);
    bool isOnSocketQueue() const;
    // The descriptors, answered only on the socket queue (-1 elsewhere): IPv4, else IPv6.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    // The TLS session once a TLS start began, answered only on the socket queue (null elsewhere).
    struct ssl_st* sslContext() const;

    // Configuration. Getters wait for the socket queue; setters post to it (the synchronously...
    // ones wait).
    std::weak_ptr<NetSocketDelegate> delegate();
    void setDelegate(std::weak_ptr<NetSocketDelegate> delegate);
    void synchronouslySetDelegate(std::weak_ptr<NetSocketDelegate> delegate);
    std::shared_ptr<DispatchQueue> delegateQueue();
    void setDelegateQueue(std::shared_ptr<DispatchQueue> queue);
    void synchronouslySetDelegateQueue(std::shared_ptr<DispatchQueue> queue);
    void getDelegate(std::weak_ptr<NetSocketDelegate>* delegate, std::shared_ptr<DispatchQueue>* queue);
    void setDelegate(std::weak_ptr<NetSocketDelegate> delegate, std::shared_ptr<DispatchQueue> queue);
    void synchronouslySetDelegate(std::weak_ptr<NetSocketDelegate> delegate, std::shared_ptr<DispatchQueue> queue);
    bool isIPv4Enabled();
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled();
    void setIPv6Enabled(bool enabled);
    bool isIPv4PreferredOverIPv6();
    void setIPv4PreferredOverIPv6(bool preferred);
    double alternateAddressDelay();
    void setAlternateAddressDelay(double seconds);
    std::shared_ptr<void> userData();
    void setUserData(std::shared_ptr<void> data);
    // False allows half duplex: the peer's end of stream leaves writing open.
    bool autoDisconnectOnClosedReadStream();
    void setAutoDisconnectOnClosedReadStream(bool autoDisconnect);

    // Listening: the interface is empty (every one), "localhost", "loopback", a name or an address,
    // optionally with ":port"; port 0 lets the kernel choose.
    bool acceptOnPort(uint16_t port, NetSocketError* error) { return acceptOnInterface({}, port, error); }
    bool acceptOnInterface(const std::string& interface, uint16_t port, NetSocketError* error);
    // A unix-domain socket at the path; an old socket file there is replaced, anything else refused.
    bool acceptOnUrl(const std::filesystem::path& url, NetSocketError* error);

    // Connecting, to a host name (looked up on the global queue; IPv4 and IPv6 raced, the second
    // family alternateAddressDelay() after the first), to an IPv4 or IPv6 address, or to a
    // unix-domain path. A negative time-out means none; a non-empty interface is the local address
    // to bind first, described as for accepting. False for a bad parameter or configuration, the
    // socket left as it was; after true, the outcome is didConnectToHost or didConnectToUrl, or
    // socketDidDisconnect with the error.
    bool connectToHost(const std::string& host, uint16_t port, NetSocketError* error)
    {
        return connectToHost(host, port, {}, -1, error);
    }
    bool connectToHost(const std::string& host, uint16_t port, double timeout, NetSocketError* error)
    {
        return connectToHost(host, port, {}, timeout, error);
    }
    bool connectToHost(
        const std::string& host, uint16_t port, const std::string& interface, double timeout, NetSocketError* error);
    bool connectToAddress(const NetSocketAddress::Data& address, NetSocketError* error)
    {
        return connectToAddress(address, {}, -1, error);
    }
    bool connectToAddress(const NetSocketAddress::Data& address, double timeout, NetSocketError* error)
    {
        return connectToAddress(address, {}, timeout, error);
    }
    bool connectToAddress(
        const NetSocketAddress::Data& address, const std::string& interface, double timeout, NetSocketError* error);
    bool connectToUrl(const std::filesystem::path& url, double timeout, NetSocketError* error);
    // To a resolved DNS-SD service: each of its addresses in turn, the preferred IP version first,
    // until a connect to one starts; false, with the last refusal, when none does.
    bool connectToNetService(const NetService& service, NetSocketError* error);

    // Closing: at once (waits), or once the queued reads, writes or both are done (posts).
    void disconnect();
    void disconnectAfterReading() { disconnectAfter(NetSocketFlag::DisconnectAfterReads); }
    void disconnectAfterWriting() { disconnectAfter(NetSocketFlag::DisconnectAfterWrites); }
    void disconnectAfterReadingAndWriting()
    {
        disconnectAfter(NetSocketFlag::DisconnectAfterReads | NetSocketFlag::DisconnectAfterWrites);
    }

    // Diagnostics, each waiting for the socket queue. Hosts are nullopt and ports 0 when unknown.
    bool isDisconnected() { return diagnostics_.isDisconnected(); }
    bool isConnected() { return diagnostics_.isConnected(); }
    std::optional<std::string> connectedHost() { return diagnostics_.connectedHost(); }
    uint16_t connectedPort() { return diagnostics_.connectedPort(); }
    std::filesystem::path connectedUrl() { return diagnostics_.connectedUrl(); }
    std::optional<std::string> localHost() { return diagnostics_.localHost(); }
    uint16_t localPort() { return diagnostics_.localPort(); }
    NetSocketAddress::Data connectedAddress() { return diagnostics_.connectedAddress(); }
    NetSocketAddress::Data localAddress() { return diagnostics_.localAddress(); }
    std::optional<std::string> connectedHost4() { return diagnostics_.connectedHost4(); }
    std::optional<std::string> connectedHost6() { return diagnostics_.connectedHost6(); }
    uint16_t connectedPort4() { return diagnostics_.connectedPort4(); }
    uint16_t connectedPort6() { return diagnostics_.connectedPort6(); }
    std::optional<std::string> localHost4() { return diagnostics_.localHost4(); }
    std::optional<std::string> localHost6() { return diagnostics_.localHost6(); }
    uint16_t localPort4() { return diagnostics_.localPort4(); }
    uint16_t localPort6() { return diagnostics_.localPort6(); }
    bool isIPv4() { return diagnostics_.isIPv4(); }
    bool isIPv6() { return diagnostics_.isIPv6(); }
    bool isSecure() { return diagnostics_.isSecure(); }

    // Reads whatever is available, bounded by maxLength (0: no bound), optionally into the caller's
    // buffer from `offset` on. Rejected (dropped without a callback) when the offset lies past the
    // buffer's end.
    void readDataWithTimeout(double timeout, long tag) { readDataWithTimeout(timeout, nullptr, 0, 0, tag); }
    void readDataWithTimeout(double timeout, Buffer buffer, size_t offset, long tag)
    {
        readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
    }
    void readDataWithTimeout(double timeout, Buffer buffer, size_t offset, size_t maxLength, long tag);
    // Reads exactly `length` bytes; a length of 0 is rejected.
    void readDataToLength(size_t length, double timeout, long tag)
    {
        readDataToLength(length, timeout, nullptr, 0, tag);
    }
    void readDataToLength(size_t length, double timeout, Buffer buffer, size_t offset, long tag);
    // Reads up to and including the terminator; an empty terminator, or a maximum below its length,
    // is rejected. Not finding it within the maximum closes the socket with ReadMaxedOutError.
    void readDataToData(std::vector<uint8_t> term, double timeout, long tag)
    {
        readDataToData(std::move(term), timeout, nullptr, 0, 0, tag);
    }
    void readDataToData(std::vector<uint8_t> term, double timeout, Buffer buffer, size_t offset, long tag)
    {
        readDataToData(std::move(term), timeout, std::move(buffer), offset, 0, tag);
    }
    void readDataToData(std::vector<uint8_t> term, double timeout, size_t maxLength, long tag)
    {
        readDataToData(std::move(term), timeout, nullptr, 0, maxLength, tag);
    }
    void readDataToData(
        std::vector<uint8_t> term, double timeout, Buffer buffer, size_t offset, size_t maxLength, long tag);
    // Empty data is ignored. The bytes are shared, not copied: the caller must not change them.
    void writeData(std::shared_ptr<const std::vector<uint8_t>> data, double timeout, long tag);
    void writeData(std::vector<uint8_t> data, double timeout, long tag)
    {
        writeData(std::make_shared<const std::vector<uint8_t>>(std::move(data)), timeout, tag);
    }

    // Secures the connection once the reads and writes queued before it are done: reads and writes
    // queued after it travel through TLS. Ignored unless connected and not yet started on TLS.
    void startTLS(NetSocketTLSSettings settings = {});

    // Tag, bytes done and total of the current request and the fraction done; NaN without one.
    float progressOfReadReturningTag(long* tag, size_t* done, size_t* total);
    float progressOfWriteReturningTag(long* tag, size_t* done, size_t* total);

    // The socket addresses of a host name at a port (blocks while the resolver works).
    static std::optional<std::vector<NetSocketAddress::Data>> lookupHost(
        const std::string& host, uint16_t port, NetSocketError* error)
    {
        return NetSocketHostLookup().lookupHost(host, port, error);
    }
    // Common terminators for readDataToData.
    static std::vector<uint8_t> CRLFData() { return {0x0D, 0x0A}; }
    static std::vector<uint8_t> CRData() { return {0x0D}; }
    static std::vector<uint8_t> LFData() { return {0x0A}; }
    static std::vector<uint8_t> ZeroData() { return {0x00}; }

private:
    explicit NetSocket(std::shared_ptr<SerialQueue> socketQueue);

    // Runs the work on the socket queue later, unless the socket is gone by then.
    void post(std::function<void(NetSocket&)> work);
    // Runs the work on the socket queue: now when already there, else later.
    void apply(std::function<void(NetSocket&)> work);

    void closeWithError(std::optional<NetSocketError> error) override;
    void maybeClose() override;
    void disconnectAfter(uint32_t bits);
    void setConfigBit(uint16_t bit, bool set);

    // The checks every accept or connect (the `action`) makes first, then the emptied queues.
    bool prepareTo(const char* action, bool checkFamilies, NetSocketError* error);
    // Sets the started bit on success; passes the success on.
    bool started(bool success);
    // On the listener's queue: hands the connection to a child made on the delegate queue.
    void handOver(NetSocketDescriptor fd, int family, NetSocketAddress::Data address);
    // Before the child is shared: takes the accepted descriptor as connected.
    void adoptConnected(int fd, int family);
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
    // The descriptor in its family's field is connected (an outgoing connection that won, or one
    // handed over connected, with the current stateIndex): reports it and starts reading and writing.
    void didConnect(uint64_t stateIndex) { connector_.didConnect(stateIndex); }

    void enqueueRead(std::shared_ptr<NetSocketReadPacket> packet);

    NetSocketContext context_;
    NetSocketListener listener_;
    NetSocketReadPump readPump_;
    NetSocketWritePump writePump_;
    NetSocketTLS tls_;
    NetSocketDiagnostics diagnostics_;
    NetSocketConnector connector_;
    std::shared_ptr<void> userData_;
};
