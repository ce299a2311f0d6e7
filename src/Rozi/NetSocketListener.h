#pragma once

#include "Platform/AcceptPause.h"
#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketDescriptor.h"
#include "Rozi/NetSocketError.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DispatchSource;
class NetSocketCloser;
struct NetSocketContext;

// The listening side of a NetSocket: listening descriptors and the read sources that accept on
// them, each taking every queued connection in one pass, resting while descriptors are short. Used on
// the socket queue.
class NetSocketListener {
public:
    // An accepted connection: its descriptor (closed unless taken), the listener's family (AF_INET,
    // AF_INET6 or AF_UNIX) and the peer's address.
    using Accepted = std::function<void(NetSocketDescriptor fd, int family, NetSocketAddress::Data address)>;

    NetSocketListener(NetSocketContext& context, NetSocketCloser& closer, Accepted accepted);
    ~NetSocketListener();
    NetSocketListener(const NetSocketListener&) = delete;
    NetSocketListener& operator=(const NetSocketListener&) = delete;

    // Listens on the interface's IPv4 and IPv6 addresses (those enabled) at the port; with port 0
    // the IPv6 socket takes the port the kernel gave the IPv4 one.
    bool listenOnInterface(const std::string& interface, uint16_t port, NetSocketError* error);
    // Listens at a unix-domain path; an old socket file there is replaced, anything else refused.
    bool listenOnUrl(const std::filesystem::path& url, NetSocketError* error);
    // A non-blocking socket with address reuse (and IPv6 only, for an IPv6 address) bound to the
    // address and listening; -1 and the error when a step fails.
    static int openListeningSocket(const sockaddr* address, socklen_t length, NetSocketError* error);
    // Accepts on fd until cancelled; the cancel closes fd. False when fd cannot be watched (it is
    // closed then).
    bool startAccepting(int fd, int family, NetSocketError* error);
    bool hasSources() const { return !sources_.empty(); }
    void cancelSources();
    // Removes the socket file of a unix-domain listener.
    void removeSocketFile();

private:
    // Listens on both families at one port; false, with neither open, when that fails.
    bool listenOnBoth(NetSocketAddress::Data address4, NetSocketAddress::Data address6, NetSocketError* error);
    // Accepts on *fd when it is open; false, with *fd closed and -1, when it cannot be watched.
    bool watchListening(int* fd, int family, NetSocketError* error);
    bool doAccept(int listenFD, int family);

    NetSocketContext& context_;
    NetSocketCloser& closer_;
    const Accepted accepted_;
    std::filesystem::path socketUrl_;
    std::vector<std::unique_ptr<DispatchSource>> sources_;
    std::unique_ptr<AcceptPause> descriptorPause_;  // made with the first source
};
