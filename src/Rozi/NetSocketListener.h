#pragma once

#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketDescriptor.h"
#include "Rozi/NetSocketError.h"

#include <functional>
#include <memory>
#include <vector>

class DispatchSource;
struct NetSocketContext;

// The listening side of a NetSocket: listening descriptors and the read sources that accept on
// them, each taking every queued connection in one pass. Used on the socket queue.
class NetSocketListener {
public:
    // An accepted connection: its descriptor (closed unless taken), the listener's family (AF_INET,
    // AF_INET6 or AF_UNIX) and the peer's address.
    using Accepted = std::function<void(NetSocketDescriptor fd, int family, NetSocketAddress::Data address)>;

    NetSocketListener(NetSocketContext& context, Accepted accepted);
    ~NetSocketListener();
    NetSocketListener(const NetSocketListener&) = delete;
    NetSocketListener& operator=(const NetSocketListener&) = delete;

    // A non-blocking socket with address reuse (and IPv6 only, for an IPv6 address) bound to the
    // address and listening; -1 and the error when a step fails.
    static int openListeningSocket(const sockaddr* address, socklen_t length, NetSocketError* error);
    // Accepts on fd until cancelled; the cancel closes fd. False when fd cannot be watched (it is
    // closed then).
    bool startAccepting(int fd, int family, NetSocketError* error);
    bool hasSources() const { return !sources_.empty(); }
    void cancelSources();

private:
    bool doAccept(int listenFD, int family);

    NetSocketContext& context_;
    const Accepted accepted_;
    std::vector<std::unique_ptr<DispatchSource>> sources_;
};
