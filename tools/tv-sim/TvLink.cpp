#include "tv-sim/TvLink.h"

#include "Socket/HeartbeatPayload.h"
#include "Socket/MessageType.h"
#include "Utils/Log.h"
#include "tv-sim/WallClock.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace {

constexpr int kBacklog = 8;

bool transient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

TvLink::TvLink(Handlers handlers) : handlers_(std::move(handlers)) {}

TvLink::~TvLink()
{
    stop();
}

bool TvLink::listen(const SimAddress& address)
{
    if (listenFd_ >= 0 || stopping_ || wake_.fd() < 0)
        return false;
    const int fd = address.bindSocket(SOCK_STREAM);
    if (fd < 0)
        return false;
    // Non-blocking, so a connection that vanished between poll and accept cannot stall the thread.
    if (::listen(fd, kBacklog) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        PLOG_ERRNO("tv-sim: listen");
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    port_ = SimAddress::localPort(fd);
    thread_ = std::thread([this] { run(); });
    return true;
}

void TvLink::stop()
{
    stopping_ = true;
    shutdownLink();
    wake_.wake();
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

bool TvLink::send(uint16_t type, std::span<const uint8_t> payload)
{
    std::lock_guard lock(writeMutex_);
    const int fd = writerFd();
    if (fd < 0)
        return false;
    const auto result = fragmenter_.send(sequence_++, type, wallMicros(), payload,
                                         [fd](std::span<const uint8_t> fragment) { return writeAll(fd, fragment); });
    return result.status == MessageFragmenter::Status::Sent;
}

bool TvLink::sendHeartbeatRequest()
{
    std::lock_guard lock(writeMutex_);
    const int fd = writerFd();
    if (fd < 0)
        return false;
    const auto payload = HeartbeatPayload{.sequence = ++beats_}.encode();
    const auto result = fragmenter_.send(sequence_++, kMsgHeartbeat, wallMicros(), payload,
                                         [fd](std::span<const uint8_t> fragment) { return writeAll(fd, fragment); });
    return result.status == MessageFragmenter::Status::Sent;
}

bool TvLink::sendRaw(std::span<const uint8_t> bytes)
{
    std::lock_guard lock(writeMutex_);
    const int fd = writerFd();
    return fd >= 0 && writeAll(fd, bytes);
}

void TvLink::close()
{
    shutdownLink();
}

void TvLink::setReading(bool reading)
{
    std::unique_lock lock(readingMutex_);
    reading_ = reading;
    const uint64_t request = ++readingRequests_;
    if (!threadRunning_ || std::this_thread::get_id() == linkThread_)
        return;
    wake_.wake();
    readingSeen_.wait(lock, [&] { return readingAcknowledged_ >= request || !threadRunning_; });
}

bool TvLink::applyReading()
{
    bool reading;
    {
        std::lock_guard lock(readingMutex_);
        reading = reading_;
        readingAcknowledged_ = readingRequests_;
    }
    readingSeen_.notify_all();
    return reading;
}

int TvLink::writerFd()
{
    std::lock_guard lock(linkMutex_);
    return fd_;
}

void TvLink::shutdownLink()
{
    std::lock_guard lock(linkMutex_);
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
}

bool TvLink::writeAll(int fd, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            PLOG_ERRNO("tv-sim: send");
            return false;
        }
        bytes = bytes.subspan(static_cast<size_t>(sent));
    }
    return true;
}

// The link thread: accepts, reads, and alone opens and closes the link's descriptor.
void TvLink::run()
{
    {
        std::lock_guard lock(readingMutex_);
        linkThread_ = std::this_thread::get_id();
        threadRunning_ = true;
    }
    while (!stopping_) {
        // A paused link is polled for nothing, yet hang-ups and errors still show, so a closed link ends.
        const bool reading = applyReading();
        pollfd fds[3] = {{wake_.fd(), POLLIN, 0},
                         {listenFd_, POLLIN, 0},
                         {fd_, static_cast<short>(reading ? POLLIN : 0), 0}};
        if (::poll(fds, fd_ >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            PLOG_ERRNO("tv-sim: poll");
            break;
        }
        if (fds[0].revents != 0)
            wake_.drain();
        if (fd_ >= 0 && fds[2].revents != 0 && !read())
            drop();
        if (fds[1].revents != 0)
            accept();
    }
    drop();
    {
        std::lock_guard lock(readingMutex_);
        threadRunning_ = false;
    }
    readingSeen_.notify_all();
}

void TvLink::accept()
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
        if (!transient(errno) && errno != ECONNABORTED)
            PLOG_ERRNO("tv-sim: accept");
        return;
    }
    if (fd_ >= 0) {
        PLOG("tv-sim: a new link replaces the current one");
        drop();
    }
    install(fd, SimAddress::format(peer));
}

void TvLink::install(int fd, const std::string& peer)
{
    const int on = 1;
    // Small answers (heartbeat, echo) go out at once rather than wait for more bytes.
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        PLOG_ERRNO("tv-sim: TCP_NODELAY");
    reassembler_ = std::make_unique<FrameReassembler>(
        [this](const ReassembledMessage& message) { handlers_.onMessage(message.header(), message.payload()); });
    splitter_ = std::make_unique<FrameStreamSplitter>(*reassembler_);
    {
        std::scoped_lock lock(writeMutex_, linkMutex_);
        sequence_ = 0;
        beats_ = 0;
        fd_ = fd;
    }
    handlers_.onUp(peer);
}

bool TvLink::read()
{
    // A read that fills the whole space leaves more waiting: read on without another poll, a few
    // times at most, so the wake descriptor and the listener are still looked at.
    for (int reads = 0; reads < kReadsPerPoll; ++reads) {
        const auto space = splitter_->writableSpace();
        const ssize_t got = ::recv(fd_, space.data(), space.size(), MSG_DONTWAIT);
        if (got == 0)
            return false;
        if (got < 0) {
            if (transient(errno))
                return true;
            PLOG_ERRNO("tv-sim: recv");
            return false;
        }
        if (splitter_->commit(static_cast<size_t>(got)) != FrameStreamSplitter::Status::Ok)
            return false;
        if (static_cast<size_t>(got) < space.size())
            return true;
    }
    return true;
}

void TvLink::drop()
{
    int fd = -1;
    {
        std::lock_guard lock(linkMutex_);
        std::swap(fd, fd_);
    }
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_RDWR);
    {
        // A writer still inside the old link holds this lock; the shutdown has made it fail.
        std::lock_guard lock(writeMutex_);
        ::close(fd);
    }
    splitter_.reset();
    reassembler_.reset();
    handlers_.onDown();
}
