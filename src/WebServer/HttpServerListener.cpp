#include "WebServer/HttpServerListener.h"

#include "Platform/DispatchPool.h"
#include "Platform/GlobalQueue.h"
#include "WebServer/HttpServerLog.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kAcceptBatch = 64;

// Half the cores accept and serve at once: the rest are left to what runs beside a transfer (the
// cast's capture and encoding, the client on the same machine), and on a loaded machine more loops
// only take turns with them. At least two, so one long first step does not hold every new connection.
size_t acceptLoops() { return std::max(2U, std::thread::hardware_concurrency() / 2); }

uint16_t boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Failed retrieving socket address: %s (%i)", strerror(code), code);
        return 0;
    }
    return ntohs(address.sin_port);
}

}  // namespace

struct HttpServerListener::Socket {
    int fd = -1;
    const char* name = "";
    // The bound address when it is not the wildcard, and so every connection's local address: no
    // need to ask the kernel for each.
    std::vector<uint8_t> localAddress;
};

std::shared_ptr<HttpServerListener> HttpServerListener::open(const Settings& settings, HttpError* error)
{
    const std::shared_ptr<HttpServerListener> listener(new HttpServerListener(settings));
    // With port 0 the second family takes the port the kernel gave the first, where it may be taken
    // already: then both start over, the other family first, a few times.
    constexpr int kAttempts = 8;
    for (int attempt = 0;; ++attempt) {
        const bool sixFirst = settings.port == 0 && attempt % 2 == 1;
        HttpError taken;
        if (listener->listenOnBoth(settings.port, sixFirst, &taken))
            return listener;
        if (settings.port != 0 || taken.code != EADDRINUSE || attempt + 1 == kAttempts) {
            HttpError::assign(error, taken);
            return nullptr;
        }
    }
}

bool HttpServerListener::listenOnBoth(uint16_t port, bool sixFirst, HttpError* error)
{
    auto& socket4 = sockets_[0];
    auto& socket6 = sockets_[1];
    socket4 = std::make_unique<Socket>();
    socket6 = std::make_unique<Socket>();
    const auto ipv6Missing = [](const HttpError& e) { return e.code == EAFNOSUPPORT || e.code == EADDRNOTAVAIL; };
    const auto ipv4Alone = [&] {
        socket6.reset();
        HttpServerLog::log(HttpServerLog::Warning, "IPv6 is not available: serving IPv4 only");
    };
    HttpError firstError;
    if (!listen(sixFirst ? *socket6 : *socket4, sixFirst ? AF_INET6 : AF_INET, port, &firstError)) {
        if (!sixFirst || !ipv6Missing(firstError)) {
            HttpError::assign(error, firstError);
            return false;
        }
        ipv4Alone();
        if (!listen(*socket4, AF_INET, port, error))
            return false;
        port_ = port != 0 ? port : boundPort(socket4->fd);
        return true;
    }
    port_ = port != 0 ? port : boundPort((sixFirst ? socket6 : socket4)->fd);
    HttpError secondError;
    if (listen(sixFirst ? *socket4 : *socket6, sixFirst ? AF_INET : AF_INET6, port_, &secondError))
        return true;
    if (!sixFirst && ipv6Missing(secondError)) {
        ipv4Alone();
        return true;
    }
    for (auto* socket : {socket4.get(), socket6.get()}) {
        if (socket->fd >= 0)
            ::close(std::exchange(socket->fd, -1));
    }
    HttpError::assign(error, secondError);
    return false;
}

HttpServerListener::HttpServerListener(const Settings& settings) : settings_(settings) {}

HttpServerListener::~HttpServerListener() { close(); }

bool HttpServerListener::listen(Socket& socket, int family, uint16_t port, HttpError* error)
{
    socket.name = family == AF_INET ? "IPv4" : "IPv6";
    auto fail = [&](const char* what) {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Failed %s %s listening socket: %s (%i)", what, socket.name, strerror(code), code);
        HttpError::assign(error, HttpError::posix(code));
        if (socket.fd >= 0)
            ::close(socket.fd);
        socket.fd = -1;
        return false;
    };
    socket.fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.fd < 0)
        return fail("creating");
    const int on = 1;
    setsockopt(socket.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    int result;
    if (family == AF_INET) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(settings_.bindToLocalhost ? INADDR_LOOPBACK : INADDR_ANY);
        result = ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } else {
        // Without this the IPv6 socket also claims the IPv4 port and one of the two binds fails.
        if (setsockopt(socket.fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on)) != 0)
            return fail("configuring");
        sockaddr_in6 address {};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = settings_.bindToLocalhost ? in6addr_loopback : in6addr_any;
        result = ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
    if (result != 0)
        return fail("binding");
    if (::listen(socket.fd, settings_.backlog) != 0)
        return fail("starting");
    // A connection is handed over once its first bytes are in (a silent one after a second), so the
    // request is read at once where it is accepted rather than waited for on a readiness source.
    const int deferSeconds = 1;
    setsockopt(socket.fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof(deferSeconds));
    if (settings_.bindToLocalhost) {
        sockaddr_storage local {};
        socklen_t length = sizeof(local);
        if (getsockname(socket.fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
            socket.localAddress.assign(reinterpret_cast<const uint8_t*>(&local), reinterpret_cast<const uint8_t*>(&local) + length);
    }
    return true;
}

void HttpServerListener::start(std::weak_ptr<void> owner, Accepted accepted)
{
    // A connection goes on to the pool's queues: the pool is made now, with its descriptors, rather
    // than at the first accept, when the process may have run out of them.
    DispatchPool::shared();
    accepted_ = std::move(accepted);
    descriptorPause_ = std::make_unique<AcceptPause>(
        "HTTP port " + std::to_string(port_), GlobalQueue::shared(GlobalQueue::Priority::Default),
        [weak = weak_from_this()](bool paused) {
            if (const auto self = weak.lock())
                self->setShortOfDescriptors(paused);
        },
        [](const std::string& line) { HttpServerLog::log(HttpServerLog::Error, "%s", line.c_str()); });
    std::vector<int> descriptors;
    std::vector<Socket*> listening;
    std::vector<std::pair<int, const char*>> closing;  // for the last loop: the listener may be gone by then
    for (const auto& socket : sockets_) {
        if (socket) {
            descriptors.push_back(socket->fd);
            listening.push_back(socket.get());
            closing.emplace_back(socket->fd, socket->name);
        }
    }
    const std::lock_guard lock(mutex_);
    loops_ = AcceptLoops::start(
        descriptors, acceptLoops(), "http.accept",
        // The sockets live as long as the listener, which the handler holds while it accepts.
        [owner, weak = weak_from_this(), listening](size_t index) {
            const auto keptOwner = owner.lock();
            if (const auto self = weak.lock(); self && keptOwner)
                self->accept(*listening[index]);
        },
        [closing] {
            for (const auto& [fd, name] : closing) {
                if (::close(fd) != 0) {
                    const int code = errno;
                    HttpServerLog::log(HttpServerLog::Error, "Failed closing %s listening socket: %s (%i)", name, strerror(code), code);
                }
            }
        });
    if (!loops_) {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Failed starting to accept on port %u: %s (%i)", unsigned(port_), strerror(code), code);
    }
    updateAccepting();
}

void HttpServerListener::close()
{
    {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
    }
    if (loops_) {
        // A loop may be serving a request that waits for a pool task, and this may be the last free worker.
        const DispatchPool::BlockingScope blocking;
        // Closes the sockets once the last loop has ended; from inside a loop's own handler, that loop
        // ends when the handler returns.
        loops_->stop();
        return;
    }
    for (const auto& socket : sockets_) {
        if (socket && socket->fd >= 0)
            ::close(socket->fd);
    }
}

// Takes connection after connection while the backlog holds one, each served in place, up to a bound
// that lets the loop look at its other socket: waiting again between them would cost a call each.
void HttpServerListener::accept(Socket& socket)
{
    for (int i = 0; i < kAcceptBatch && acceptOne(socket); ++i) {
    }
}

// The slot a connection takes under the cap is held from the check until the server counts the
// connection, or until the attempt ends without one: loops accepting at once cannot pass the cap together.
class HttpServerListener::Admission {
public:
    explicit Admission(HttpServerListener& listener) : listener_(listener) { holder_ = &listener; }
    ~Admission() { listener_.releaseAdmission(); }
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    // True on the thread between the check and the count, so the count can release the slot.
    static bool heldFor(const HttpServerListener* listener) { return holder_ == listener; }
    static void clear() { holder_ = nullptr; }

private:
    HttpServerListener& listener_;
    static inline thread_local const HttpServerListener* holder_ = nullptr;
};

bool HttpServerListener::acceptOne(Socket& socket)
{
    {
        const std::lock_guard lock(mutex_);
        if (!mayAccept())
            return false;
        ++admitting_;
        // At the cap the loops pause now rather than wake for connections they may not take.
        updateAccepting();
    }
    const Admission admission(*this);
    sockaddr_storage remote {};
    socklen_t remoteLength = sizeof(remote);
    const int fd = ::accept4(socket.fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        if (code == EINTR || code == ECONNABORTED)
            return true;
        if (code == EAGAIN || code == EWOULDBLOCK)
            return false;
        if (!descriptorPause_->acceptFailed(code))
            HttpServerLog::log(HttpServerLog::Error, "Failed accepting %s socket: %s (%i)", socket.name, strerror(code), code);
        return false;
    }
    descriptorPause_->accepted();
    std::vector<uint8_t> localData = socket.localAddress;
    sockaddr_storage local {};
    socklen_t localLength = sizeof(local);
    if (localData.empty() && getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
        localData.assign(reinterpret_cast<const uint8_t*>(&local), reinterpret_cast<const uint8_t*>(&local) + localLength);
    std::vector<uint8_t> remoteData(reinterpret_cast<const uint8_t*>(&remote), reinterpret_cast<const uint8_t*>(&remote) + remoteLength);
    accepted_(fd, std::move(localData), std::move(remoteData));
    return true;
}

// The pending connection stays queued while descriptors are short: a loop waiting on the socket would
// otherwise wake for it again and again.
void HttpServerListener::setShortOfDescriptors(bool isShort)
{
    const std::lock_guard lock(mutex_);
    shortOfDescriptors_ = isShort;
    updateAccepting();
}

void HttpServerListener::setOpenConnections(size_t count)
{
    const std::lock_guard lock(mutex_);
    openConnections_ = count;
    // Called from inside the accepting thread's own attempt, the count now holds its connection.
    if (Admission::heldFor(this)) {
        Admission::clear();
        --admitting_;
    }
    updateAccepting();
}

void HttpServerListener::releaseAdmission()
{
    if (!Admission::heldFor(this))
        return;
    Admission::clear();
    const std::lock_guard lock(mutex_);
    --admitting_;
    updateAccepting();
}

bool HttpServerListener::mayAccept() const
{
    const bool atCap = settings_.maxConnections != 0 && openConnections_ + admitting_ >= settings_.maxConnections;
    return !closed_ && !shortOfDescriptors_ && !atCap;
}

// Every connection's start and end comes here: the loops are touched only when accepting starts or stops.
void HttpServerListener::updateAccepting()
{
    if (closed_ || !loops_)
        return;
    const bool accepting = mayAccept();
    if (accepting == accepting_)
        return;
    accepting_ = accepting;
    loops_->setAccepting(accepting);
}
