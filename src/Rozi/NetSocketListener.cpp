#include "Rozi/NetSocketListener.h"

#include "Platform/DispatchSource.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

constexpr int kBacklog = 1024;
// A readiness event tells no count of queued connections here: a pass takes at most a full backlog.
constexpr int kAcceptBatch = kBacklog;

} // namespace

NetSocketListener::NetSocketListener(NetSocketContext& context, Accepted accepted)
    : context_(context), accepted_(std::move(accepted))
{
}

NetSocketListener::~NetSocketListener() = default;

int NetSocketListener::openListeningSocket(const sockaddr* address, socklen_t length, NetSocketError* error)
{
    NetSocketDescriptor fd(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    auto fail = [&](const char* reason) {
        NetSocketError::assign(error, NetSocketError::posix(errno, reason));
        return -1;
    };
    if (fd.get() < 0)
        return fail("Error in socket() function");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("Error enabling non-blocking IO on socket (fcntl)");
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return fail("Error enabling address reuse (setsockopt)");
    // Without it the IPv6 socket claims the IPv4 port too, and the second bind of a dual-stack port fails.
    if (address->sa_family == AF_INET6 && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
        return fail("Error enabling IPv6 only (setsockopt)");
    if (::bind(fd.get(), address, length) != 0)
        return fail("Error in bind() function");
    if (::listen(fd.get(), kBacklog) != 0)
        return fail("Error in listen() function");
    return fd.release();
}

bool NetSocketListener::startAccepting(int fd, int family, NetSocketError* error)
{
    auto source = DispatchSource::create(
        fd, DispatchSource::Kind::Read, context_.socketQueue,
        // On the socket queue; `this` lives as long as the socket the handler holds while it runs.
        [weak = context_.self, this, fd, family] {
            const auto socket = weak.lock();
            for (int i = 0; socket && i < kAcceptBatch && doAccept(fd, family); ++i) {
            }
        },
        [fd] { ::close(fd); });
    if (!source) {
        NetSocketError::assign(error, NetSocketError::errnoError());
        ::close(fd);
        return false;
    }
    source->resume();
    sources_.push_back(std::move(source));
    return true;
}

void NetSocketListener::cancelSources()
{
    for (const auto& source : sources_)
        source->cancel();
    sources_.clear();
}

bool NetSocketListener::doAccept(int listenFD, int family)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    NetSocketDescriptor fd(::accept4(listenFD, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.get() < 0)
        return false;
    accepted_(std::move(fd), family, NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), length));
    return true;
}
