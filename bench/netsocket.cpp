// Echo over loopback through four servers: NetSocket (children on queues of their own, or on the
// delegate's), a plain blocking socket with a thread of its own, and Asio's async_read_some/async_write
// on one io_context thread. NetSocket and Asio both pipeline: a read starts again while echoes are
// still being written. One plain blocking client
// measures each: streamed throughput (64 KiB writes, echoed back while it writes) and messages per
// second (64-byte ping-pong, one message in flight). The servers take turns within each round.
//   bench-netsocket [seconds per run, default 1] [rounds, default 3]
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocket.h"

#include <asio.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kStreamChunk = 64 * 1024;
constexpr size_t kPingSize = 64;

// An echo server listening on 127.0.0.1 at a kernel-chosen port.
class EchoServer {
public:
    virtual ~EchoServer() = default;
    virtual uint16_t port() const = 0;
};

// The accepted child reads whatever is available and writes it back unchanged; the peer's end of
// stream ends the connection once every echo is written. With `shareQueue` the children work on the
// delegate's queue, so no callback or request crosses to another thread.
class NetSocketEcho final : public EchoServer, public NetSocketDelegate {
public:
    static std::shared_ptr<NetSocketEcho> start(bool shareQueue)
    {
        auto server = std::make_shared<NetSocketEcho>();
        server->shareQueue_ = shareQueue;
        server->listener_ = NetSocket::create(server, server->queue_);
        NetSocketError error;
        if (!server->listener_->acceptOnInterface("127.0.0.1", 0, &error)) {
            std::fprintf(stderr, "NetSocket listen: %s\n", error.description.c_str());
            std::exit(1);
        }
        return server;
    }
    ~NetSocketEcho() override
    {
        listener_->disconnect();
        queue_->sync([this] { children_.clear(); });
    }
    uint16_t port() const override { return listener_->localPort(); }

    std::shared_ptr<SerialQueue> newSocketQueueForConnectionFromAddress(const std::vector<uint8_t>&, const Socket&) override
    {
        return shareQueue_ ? queue_ : nullptr;
    }
    void didAcceptNewSocket(const Socket&, const Socket& child) override
    {
        children_.push_back(child);
        child->setAutoDisconnectOnClosedReadStream(false);
        child->readDataWithTimeout(-1, 0);
    }
    void didReadData(const Socket& sock, const NetSocketData& data, long) override
    {
        // An owned read result holds exactly its bytes: echoed without a copy.
        sock->writeData(std::shared_ptr<const std::vector<uint8_t>>(data.storage()), -1, 0);
        sock->readDataWithTimeout(-1, 0);
    }
    void socketDidCloseReadStream(const Socket& sock) override { sock->disconnectAfterWriting(); }
    void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>&) override
    {
        std::erase(children_, sock);
    }

private:
    std::shared_ptr<SerialQueue> queue_ = SerialQueue::create("echo");
    bool shareQueue_ = false;
    std::shared_ptr<NetSocket> listener_;
    std::vector<std::shared_ptr<NetSocket>> children_; // on queue_
};

int listenOnLoopback(uint16_t* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// One blocking thread per connection: recv, then send it all back.
class PlainEcho final : public EchoServer {
public:
    PlainEcho() : listener_(listenOnLoopback(&port_))
    {
        acceptor_ = std::thread([this] {
            for (;;) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                if (fd < 0)
                    return;
                connections_.emplace_back([fd] { echo(fd); });
            }
        });
    }
    ~PlainEcho() override
    {
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        for (auto& connection : connections_)
            connection.join();
    }
    uint16_t port() const override { return port_; }

private:
    static void echo(int fd)
    {
        std::vector<uint8_t> buffer(kStreamChunk);
        for (;;) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0)
                break;
            if (::send(fd, buffer.data(), size_t(got), MSG_NOSIGNAL) != got)
                break;
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }

    uint16_t port_ = 0;
    const int listener_;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

// Asio's echo on one io_context thread, pipelined as NetSocket's is: the next read starts as soon as
// one completes, while the echoes wait in a queue, one write in flight at a time.
class AsioEcho final : public EchoServer {
public:
    AsioEcho() : acceptor_(context_, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0))
    {
        acceptNext();
        thread_ = std::thread([this] { context_.run(); });
    }
    ~AsioEcho() override
    {
        context_.stop();
        thread_.join();
    }
    uint16_t port() const override { return acceptor_.local_endpoint().port(); }

private:
    using Buffer = std::shared_ptr<std::vector<uint8_t>>;

    // Touched only on the io_context thread.
    struct Session : std::enable_shared_from_this<Session> {
        explicit Session(asio::ip::tcp::socket s) : socket(std::move(s)) {}
        void read()
        {
            auto buffer = std::make_shared<std::vector<uint8_t>>(kStreamChunk);
            socket.async_read_some(asio::buffer(*buffer), [self = shared_from_this(), buffer](std::error_code error, size_t got) {
                if (error) {
                    self->readEnded = true;
                    self->endIfDone();
                    return;
                }
                buffer->resize(got);
                self->echo(buffer);
                self->read();
            });
        }
        void echo(const Buffer& buffer)
        {
            echoes.push_back(buffer);
            if (echoes.size() == 1)
                writeNext();
        }
        void writeNext()
        {
            asio::async_write(socket, asio::buffer(*echoes.front()), [self = shared_from_this()](std::error_code failed, size_t) {
                if (failed)
                    return;
                self->echoes.pop_front();
                if (!self->echoes.empty())
                    self->writeNext();
                else
                    self->endIfDone();
            });
        }
        // The peer's end of stream ends the connection once every echo is written.
        void endIfDone()
        {
            std::error_code ignored;
            if (readEnded && echoes.empty())
                socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        }

        asio::ip::tcp::socket socket;
        std::deque<Buffer> echoes;
        bool readEnded = false;
    };

    void acceptNext()
    {
        acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
            if (error)
                return;
            std::make_shared<Session>(std::move(socket))->read();
            acceptNext();
        });
    }

    asio::io_context context_;
    asio::ip::tcp::acceptor acceptor_;
    std::thread thread_;
};

int connectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Echoed megabytes per second while the client writes for `seconds`.
double streamThrough(const EchoServer& server, double seconds)
{
    const int fd = connectTo(server.port());
    std::atomic<size_t> received{0};
    std::thread reader([fd, &received] {
        std::vector<uint8_t> buffer(kStreamChunk * 4);
        for (;;) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0)
                return;
            received += size_t(got);
        }
    });
    const std::vector<uint8_t> chunk(kStreamChunk, 0x5A);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) {
            std::perror("send");
            std::exit(1);
        }
    }
    ::shutdown(fd, SHUT_WR);
    reader.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    return double(received) / elapsed / 1e6;
}

// Round trips per second of one small message at a time.
double pingPong(const EchoServer& server, double seconds)
{
    const int fd = connectTo(server.port());
    std::vector<uint8_t> message(kPingSize, 0x33);
    std::vector<uint8_t> echo(kPingSize);
    size_t trips = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) {
            std::perror("send");
            std::exit(1);
        }
        for (size_t got = 0; got < kPingSize;) {
            const ssize_t n = ::recv(fd, echo.data() + got, kPingSize - got, 0);
            if (n <= 0) {
                std::perror("recv");
                std::exit(1);
            }
            got += size_t(n);
        }
        ++trips;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    return double(trips) / elapsed;
}

struct Tally {
    double megabytesPerSecond = 0;
    double messagesPerSecond = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const auto netSocket = NetSocketEcho::start(false);
    const auto sharedQueue = NetSocketEcho::start(true);
    const PlainEcho plain;
    const AsioEcho asio;
    const std::vector<std::pair<const char*, const EchoServer*>> servers{
        {"NetSocket", netSocket.get()}, {"NetSocket shared", sharedQueue.get()}, {"plain blocking", &plain},
        {"Asio", &asio}};
    std::vector<Tally> tallies(servers.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t turn = 0; turn < servers.size(); ++turn) {
            // Each round starts with another server, so none always runs first.
            const size_t index = (turn + size_t(round)) % servers.size();
            tallies[index].megabytesPerSecond += streamThrough(*servers[index].second, seconds) / rounds;
            tallies[index].messagesPerSecond += pingPong(*servers[index].second, seconds) / rounds;
        }
    }
    const Tally& reference = tallies.back();
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("cores: %u, load average %.2f %.2f %.2f, %d rounds of %.1f s per server and measure\n",
        std::thread::hardware_concurrency(), load[0], load[1], load[2], rounds, seconds);
    std::printf("%-18s %12s %8s %14s %8s\n", "echo server", "MB/s", "x Asio", "msg/s", "x Asio");
    for (size_t i = 0; i < servers.size(); ++i) {
        std::printf("%-18s %12.0f %8.2f %14.0f %8.2f\n", servers[i].first, tallies[i].megabytesPerSecond,
            tallies[i].megabytesPerSecond / reference.megabytesPerSecond, tallies[i].messagesPerSecond,
            tallies[i].messagesPerSecond / reference.messagesPerSecond);
    }
    return 0;
}
