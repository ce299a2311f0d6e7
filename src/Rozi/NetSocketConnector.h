#pragma once

#include "Platform/DispatchQueue.h"
#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketConnectAttempt.h"
#include "Rozi/NetSocketError.h"
#include "Rozi/NetSocketTimeout.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class NetSocketCloser;
struct NetSocketContext;

// The outgoing side of a NetSocket: one connect attempt at a time, to a host name (looked up on the
// global queue), an address or a unix-domain path, with IPv4 and IPv6 raced and a time-out. Every
// result carries the socket's generation number (`stateIndex`), which each end of an attempt
// advances, so a result that arrives after a time-out or a close does nothing. Used on the socket
// queue.
class NetSocketConnector {
public:
    struct Hooks {
        // The checks every connect makes first, then the emptied queues; `checkFamilies` also refuses
        // a socket with both IP versions disabled.
        std::function<bool(bool checkFamilies, NetSocketError* error)> prepare;
        // The connected descriptor is non-blocking: watch it and serve the queued reads and writes.
        std::function<void(int fd)> connected;
    };

    NetSocketConnector(NetSocketContext& context, NetSocketCloser& closer, Hooks hooks);
    ~NetSocketConnector();
    NetSocketConnector(const NetSocketConnector&) = delete;
    NetSocketConnector& operator=(const NetSocketConnector&) = delete;

    // Each returns false, the socket left as it was, for a bad parameter or configuration; once it
    // has returned true, a failure closes the socket. A negative time-out means none; a non-empty
    // interface is the local address to bind first.
    bool connectToHost(
        const std::string& host, uint16_t port, const std::string& interface, double timeout, NetSocketError* error);
    bool connectToAddress(
        const NetSocketAddress::Data& address, const std::string& interface, double timeout, NetSocketError* error);
    bool connectToUrl(const std::filesystem::path& url, double timeout, NetSocketError* error);

    // The descriptor in its family's field of the context is connected: report it, make it
    // non-blocking and start reading and writing. Ignored when `stateIndex` is stale.
    void didConnect(uint64_t stateIndex);
    // Ends the attempt: nothing it started counts any more, and its descriptors close.
    void close();

    double alternateAddressDelay() const { return alternateAddressDelay_; }
    void setAlternateAddressDelay(double seconds) { alternateAddressDelay_ = seconds; }

private:
    // The local addresses of the interface description, or none for an empty one.
    bool prepareInterface(const std::string& interface, NetSocketError* error);
    void lookupDidSucceed(uint64_t stateIndex, std::vector<NetSocketAddress::Data> addresses);
    void lookupDidFail(uint64_t stateIndex, const NetSocketError& error);
    // Starts a connect to each address given; the second family waits alternateAddressDelay.
    bool connectWithAddress(NetSocketAddress::Data address4, NetSocketAddress::Data address6, NetSocketError* error);
    void startAlternate(uint64_t stateIndex);
    void attemptDone(NetSocketConnectAttempt& attempt, int errorNumber, uint64_t stateIndex);
    void didNotConnect(uint64_t stateIndex, const NetSocketError& error);
    void endConnectTimeout();
    void doConnectTimeout();

    NetSocketContext& context_;
    NetSocketCloser& closer_;
    const Hooks hooks_;
    double alternateAddressDelay_ = 0.3;
    NetSocketAddress::Data connectInterface4_;
    NetSocketAddress::Data connectInterface6_;
    std::filesystem::path connectInterfaceUN_;
    std::vector<std::unique_ptr<NetSocketConnectAttempt>> attempts_;
    std::shared_ptr<DispatchQueue::DelayedTask> alternate_;
    NetSocketTimeout timeout_;
};
