#include "Socket/TcpLinkSocket.h"

#include "Utils/Log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

constexpr int kSocketBufferSize = 262'144;

timeval toTimeval(std::chrono::milliseconds duration)
{
    const auto ms = std::max<std::chrono::milliseconds::rep>(duration.count(), 1);
    return {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
}

void raiseBufferTo(int fd, int option, const char* name)
{
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(fd, SOL_SOCKET, option, &size, &length) == 0 && size >= kSocketBufferSize)
        return;
    if (::setsockopt(fd, SOL_SOCKET, option, &kSocketBufferSize, sizeof kSocketBufferSize) != 0)
        NQLOG_ERRNO("setsockopt %s", name);
}

// Waits for a non-blocking connect in progress; true once the connection is made.
bool finishConnect(int fd, const std::string& target, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            NQLOG("connect to %s timed out", target.c_str());
            return false;
        }
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR) {
            NQLOG_ERRNO("poll while connecting to %s", target.c_str());
            return false;
        }
    }
    // Writable also when refused: the outcome is the socket's pending error.
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        NQLOG_ERRNO("getsockopt SO_ERROR");
        return false;
    }
    if (error != 0) {
        errno = error;
        NQLOG_ERRNO("connect to %s", target.c_str());
        return false;
    }
    return true;
}

} // namespace

LinkEndReason TcpLinkSocket::endReasonOf(int error)
{
    return error == ECONNRESET || error == EPIPE ? LinkEndReason::TvClosed : LinkEndReason::NetworkLost;
}

std::string TcpLinkSocket::dottedAddress(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string TcpLinkSocket::endpointText(const sockaddr_in& endpoint)
{
    return dottedAddress(endpoint.sin_addr) + ":" + std::to_string(ntohs(endpoint.sin_port));
}

bool TcpLinkSocket::connect(int fd, const sockaddr_in& peer, std::chrono::milliseconds connectTimeout,
                            std::chrono::milliseconds sendTimeout)
{
    const std::string target = endpointText(peer);
    bool made = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!made && errno != EINPROGRESS && errno != EINTR)
        NQLOG_ERRNO("connect to %s", target.c_str());
    else if (!made)
        made = finishConnect(fd, target, connectTimeout);
    const int flags = made ? ::fcntl(fd, F_GETFL) : -1;
    if (made && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
        NQLOG_ERRNO("fcntl clearing O_NONBLOCK");
        made = false;
    }
    if (!made)
        return false;
    PLOG("connect succeed.");
    // Every write is a whole fragment, so Nagle's wait only holds back the short tail of a frame
    // until the TV's delayed acknowledgement: tens of milliseconds of latency on every large frame.
    const int noDelay = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0)
        NQLOG_ERRNO("setsockopt TCP_NODELAY");
    raiseBufferTo(fd, SO_SNDBUF, "SO_SNDBUF");
    const timeval timeout = toTimeval(sendTimeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0)
        NQLOG_ERRNO("setsockopt SO_SNDTIMEO");
    return true;
}

void TcpLinkSocket::prepareForReceiving(int fd, std::chrono::milliseconds receiveTimeout)
{
    raiseBufferTo(fd, SO_RCVBUF, "SO_RCVBUF");
    const timeval timeout = toTimeval(receiveTimeout);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        NQLOG_ERRNO("setsockopt SO_RCVTIMEO");
}

TcpLinkSocket::WriteResult TcpLinkSocket::writeFragment(int fd, const MessageFragmenter::Pieces& fragment)
{
    std::array<iovec, 2> pieces{iovec{const_cast<uint8_t*>(fragment.header.data()), fragment.header.size()},
                                iovec{const_cast<uint8_t*>(fragment.payload.data()), fragment.payload.size()}};
    // The first piece not yet written whole; an empty payload leaves one piece.
    size_t first = 0;
    const size_t count = fragment.payload.empty() ? 1 : 2;
    size_t written = 0;
    while (written < fragment.size()) {
        msghdr message{};
        message.msg_iov = &pieces[first];
        message.msg_iovlen = count - first;
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return written == 0 ? WriteResult::NothingWritten : WriteResult::PartWritten;
        written += static_cast<size_t>(sent);
        for (size_t left = static_cast<size_t>(sent); left > 0;) {
            const size_t taken = std::min(left, pieces[first].iov_len);
            pieces[first].iov_base = static_cast<uint8_t*>(pieces[first].iov_base) + taken;
            pieces[first].iov_len -= taken;
            left -= taken;
            if (pieces[first].iov_len == 0)
                ++first;
        }
    }
    return WriteResult::Written;
}
