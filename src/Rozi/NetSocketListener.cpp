#include "Rozi/NetSocketListener.h"

#include "Platform/DispatchSource.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketInterface.h"
#include "Utils/Log.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace {

const char* const kInvalidUnixUrl =
    "Invalid unix domain url. Specify a valid file url that does not exist (e.g. \"file:///tmp/socket\")";

// An IPv4 or IPv6 address: the port follows the family in both.
void setPort(NetSocketAddress::Data* address, uint16_t port)
{
    static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port));
    const uint16_t network = htons(port);
    std::memcpy(address->data() + offsetof(sockaddr_in, sin_port), &network, sizeof network);
}

constexpr int kBacklog = 1024;
// A readiness event tells no count of queued connections here: a pass takes at most a full backlog.
constexpr int kAcceptBatch = kBacklog;

} // namespace

NetSocketListener::NetSocketListener(NetSocketContext& context, NetSocketCloser& closer, Accepted accepted)
    : context_(context), closer_(closer), accepted_(std::move(accepted))
{
}

NetSocketListener::~NetSocketListener() = default;

bool NetSocketListener::listenOnInterface(const std::string& interface, uint16_t port, NetSocketError* error)
{
    NetSocketAddress::Data address4;
    NetSocketAddress::Data address6;
    if (!NetSocketInterface::resolve(interface, port, context_.config, &address4, &address6, error))
        return false;
    const bool ipv4Disabled = context_.config & NetSocketConfig::IPv4Disabled;
    const bool ipv6Disabled = context_.config & NetSocketConfig::IPv6Disabled;

    const bool enable4 = !ipv4Disabled && !address4.empty();
    const bool enable6 = !ipv6Disabled && !address6.empty();
    if (!enable4 || !enable6) {
        int* const fd = enable4 ? &context_.socket4FD : &context_.socket6FD;
        const auto& address = enable4 ? address4 : address6;
        *fd = openListeningSocket(reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size()), error);
        if (*fd < 0)
            return false;
    } else if (!listenOnBoth(address4, address6, error)) {
        return false;
    }
    if (!watchListening(&context_.socket4FD, AF_INET, error) || !watchListening(&context_.socket6FD, AF_INET6, error)) {
        closer_.closeWithError(std::nullopt);
        return false;
    }
    return true;
}

bool NetSocketListener::listenOnBoth(NetSocketAddress::Data address4, NetSocketAddress::Data address6,
                                     NetSocketError* error)
{
    // With port 0 the second family takes the port the kernel gave the first, where it may be taken
    // already: then both start over, the other family first, a few times.
    const bool kernelPort = NetSocketAddress::portFromAddress(address4) == 0;
    constexpr int kAttempts = 8;
    for (int attempt = 0;; ++attempt) {
        const bool sixFirst = kernelPort && attempt % 2 == 1;
        int& firstFD = sixFirst ? context_.socket6FD : context_.socket4FD;
        int& secondFD = sixFirst ? context_.socket4FD : context_.socket6FD;
        const auto& first = sixFirst ? address6 : address4;
        auto& second = sixFirst ? address4 : address6;
        firstFD = openListeningSocket(reinterpret_cast<const sockaddr*>(first.data()), socklen_t(first.size()), error);
        if (firstFD < 0)
            return false;
        if (kernelPort)
            setPort(&second, NetSocketAddress::portFromAddress(NetSocketAddress::localAddress(firstFD)));
        NetSocketError secondError;
        secondFD = openListeningSocket(reinterpret_cast<const sockaddr*>(second.data()), socklen_t(second.size()),
                                       &secondError);
        if (secondFD >= 0)
            return true;
        ::close(std::exchange(firstFD, -1));
        if (!kernelPort || secondError.code != EADDRINUSE || attempt + 1 == kAttempts) {
            NetSocketError::assign(error, std::move(secondError));
            return false;
        }
        setPort(&second, 0);
    }
}

bool NetSocketListener::watchListening(int* fd, int family, NetSocketError* error)
{
    if (*fd < 0 || startAccepting(*fd, family, error))
        return true;
    *fd = -1; // the listener closed it
    return false;
}

bool NetSocketListener::listenOnUrl(const std::filesystem::path& url, NetSocketError* error)
{
    sockaddr_un address{};
    socklen_t length = 0;
    if (!NetSocketAddress::unixAddress(url, &address, &length)) {
        NetSocketError::assign(error, NetSocketError::badParam(kInvalidUnixUrl));
        return false;
    }
    // Only an old socket file gives way: any other file at the path stays, and the url is refused.
    struct stat existing { };
    if (::lstat(url.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            NetSocketError::assign(error, NetSocketError::badParam(kInvalidUnixUrl));
            return false;
        }
        if (::unlink(url.c_str()) != 0) {
            NetSocketError::assign(
                error, NetSocketError::other("Could not remove previous unix domain socket at given url."));
            return false;
        }
    }
    context_.socketUN = openListeningSocket(reinterpret_cast<const sockaddr*>(&address), length, error);
    if (context_.socketUN < 0)
        return false;
    socketUrl_ = url;
    if (!watchListening(&context_.socketUN, AF_UNIX, error)) {
        closer_.closeWithError(std::nullopt);
        return false;
    }
    return true;
}

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
    if (!descriptorPause_) {
        // Both calls come on the socket queue, which owns the sources; the socket may be gone by the second.
        descriptorPause_ = std::make_unique<AcceptPause>(
            "a listening NetSocket", context_.socketQueue,
            [weak = context_.self, this](bool paused) {
                if (!weak.lock())
                    return;
                for (const auto& source : sources_)
                    paused ? source->suspend() : source->resume();
            },
            [](const std::string& line) { PLOG("%s", line.c_str()); });
    }
    auto source = DispatchSource::create(
        fd, DispatchSource::Kind::Read, context_.socketQueue,
        // On the socket queue; `this` lives as long as the socket the handler holds while it runs.
        [weak = context_.self, this, fd, family] {
            const auto socket = weak.lock();
            for (int i = 0; socket && i < kAcceptBatch && doAccept(fd, family); ++i) { }
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

void NetSocketListener::removeSocketFile()
{
    // Removed at the close rather than in a cancel handler, which could run after a new socket took the path.
    if (!socketUrl_.empty())
        ::unlink(std::exchange(socketUrl_, {}).c_str());
}

bool NetSocketListener::doAccept(int listenFD, int family)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    NetSocketDescriptor fd(
        ::accept4(listenFD, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.get() < 0) {
        descriptorPause_->acceptFailed(errno);
        return false;
    }
    descriptorPause_->accepted();
    accepted_(
        std::move(fd), family, NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), length));
    return true;
}
