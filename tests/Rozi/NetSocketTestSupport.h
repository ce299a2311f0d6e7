#pragma once

#include "Platform/SerialQueue.h"
#include "Platform/Waiting.h"
#include "Rozi/NetSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A delegate that keeps what it is told (and every accepted child alive) for tests to wait on.
class RecordingDelegate final : public NetSocketDelegate {
public:
    struct Read {
        std::vector<uint8_t> bytes;
        long tag;
        NetSocketData data;
    };
    struct Disconnect {
        bool hadSocket;
        std::optional<NetSocketError> error;
    };
    // An outgoing connection: to a host and port, or to a unix-domain url.
    struct Connect {
        std::string host;
        uint16_t port;
        std::filesystem::path url;
    };
    using Extension = std::function<double(long tag, double elapsed, size_t bytesDone)>;

    void didAcceptNewSocket(const Socket&, const Socket& newSocket) override
    {
        const std::lock_guard lock(mutex_);
        connectedWhenAccepted_.push_back(newSocket->isConnected());
        if (keepChildren_)
            accepted_.push_back(newSocket);
        ++acceptCount_;
    }
    void didConnectToHost(const Socket&, const std::string& host, uint16_t port) override
    {
        const std::lock_guard lock(mutex_);
        connects_.push_back({host, port, {}});
    }
    void didConnectToUrl(const Socket&, const std::filesystem::path& url) override
    {
        const std::lock_guard lock(mutex_);
        connects_.push_back({{}, 0, url});
    }
    void didReadData(const Socket&, const NetSocketData& data, long tag) override
    {
        const std::lock_guard lock(mutex_);
        reads_.push_back({data.toVector(), tag, data});
    }
    void didReadPartialDataOfLength(const Socket&, size_t length, long) override
    {
        const std::lock_guard lock(mutex_);
        partialReads_.push_back(length);
    }
    void didWriteDataWithTag(const Socket&, long tag) override
    {
        const std::lock_guard lock(mutex_);
        writes_.push_back(tag);
    }
    void didWritePartialDataOfLength(const Socket&, size_t, long) override
    {
        const std::lock_guard lock(mutex_);
        ++partialWrites_;
    }
    double shouldTimeoutReadWithTag(const Socket&, long tag, double elapsed, size_t bytesDone) override
    {
        return askExtension(tag, elapsed, bytesDone);
    }
    double shouldTimeoutWriteWithTag(const Socket&, long tag, double elapsed, size_t bytesDone) override
    {
        return askExtension(tag, elapsed, bytesDone);
    }
    void socketDidCloseReadStream(const Socket&) override
    {
        const std::lock_guard lock(mutex_);
        ++readStreamClosed_;
    }
    void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>& error) override
    {
        const std::lock_guard lock(mutex_);
        disconnects_.push_back({sock != nullptr, error});
    }

    void keepChildren(bool keep) { keepChildren_ = keep; }
    void extendWith(Extension extension)
    {
        const std::lock_guard lock(mutex_);
        extension_ = std::move(extension);
    }

    size_t acceptCount() const
    {
        return locked([&] { return acceptCount_; });
    }
    bool waitForAccepts(size_t count)
    {
        return eventually([&] { return locked([&] { return acceptCount_ >= count; }); });
    }
    bool waitForConnects(size_t count)
    {
        return eventually([&] { return locked([&] { return connects_.size() >= count; }); });
    }
    bool waitForReads(size_t count)
    {
        return eventually([&] { return locked([&] { return reads_.size() >= count; }); });
    }
    bool waitForPartialReads(size_t count)
    {
        return eventually([&] { return locked([&] { return partialReads_.size() >= count; }); });
    }
    bool waitForWrites(size_t count)
    {
        return eventually([&] { return locked([&] { return writes_.size() >= count; }); });
    }
    bool waitForDisconnects(size_t count)
    {
        return eventually([&] { return locked([&] { return disconnects_.size() >= count; }); });
    }
    bool waitForReadStreamClosed()
    {
        return eventually([&] { return locked([&] { return readStreamClosed_ > 0; }); });
    }

    std::shared_ptr<NetSocket> child(size_t index) const
    {
        return locked([&] { return accepted_.at(index); });
    }
    std::vector<bool> connectedWhenAccepted() const
    {
        return locked([&] { return connectedWhenAccepted_; });
    }
    std::vector<Connect> connects() const
    {
        return locked([&] { return connects_; });
    }
    std::vector<Read> reads() const
    {
        return locked([&] { return reads_; });
    }
    std::vector<size_t> partialReads() const
    {
        return locked([&] { return partialReads_; });
    }
    std::vector<long> writes() const
    {
        return locked([&] { return writes_; });
    }
    size_t partialWrites() const
    {
        return locked([&] { return partialWrites_; });
    }
    std::vector<Disconnect> disconnects() const
    {
        return locked([&] { return disconnects_; });
    }
    std::vector<double> timeoutsAsked() const
    {
        return locked([&] { return timeoutsAsked_; });
    }
    void dropChildren()
    {
        std::vector<std::shared_ptr<NetSocket>> children;
        {
            const std::lock_guard lock(mutex_);
            children.swap(accepted_);
        }
    }

private:
    template <class F> auto locked(F f) const -> decltype(f())
    {
        const std::lock_guard lock(mutex_);
        return f();
    }
    double askExtension(long tag, double elapsed, size_t bytesDone)
    {
        const std::lock_guard lock(mutex_);
        timeoutsAsked_.push_back(elapsed);
        return extension_ ? extension_(tag, elapsed, bytesDone) : 0;
    }

    mutable std::mutex mutex_;
    bool keepChildren_ = true;
    size_t acceptCount_ = 0;
    std::vector<std::shared_ptr<NetSocket>> accepted_;
    std::vector<bool> connectedWhenAccepted_;
    std::vector<Connect> connects_;
    std::vector<Read> reads_;
    std::vector<size_t> partialReads_;
    std::vector<long> writes_;
    size_t partialWrites_ = 0;
    std::vector<double> timeoutsAsked_;
    size_t readStreamClosed_ = 0;
    std::vector<Disconnect> disconnects_;
    Extension extension_;
};

// The far end of a connection: a plain blocking socket.
class Peer {
public:
    static Peer connectTo(const std::string& host, uint16_t port)
    {
        const bool v6 = host.find(':') != std::string::npos;
        Peer peer(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
        sockaddr_storage address{};
        socklen_t length = 0;
        if (v6) {
            auto* ip = reinterpret_cast<sockaddr_in6*>(&address);
            ip->sin6_family = AF_INET6;
            ip->sin6_port = htons(port);
            ::inet_pton(AF_INET6, host.c_str(), &ip->sin6_addr);
            length = sizeof *ip;
        } else {
            auto* ip = reinterpret_cast<sockaddr_in*>(&address);
            ip->sin_family = AF_INET;
            ip->sin_port = htons(port);
            ::inet_pton(AF_INET, host.c_str(), &ip->sin_addr);
            length = sizeof *ip;
        }
        peer.connectTo(reinterpret_cast<const sockaddr*>(&address), length);
        return peer;
    }
    static Peer connectToPath(const std::filesystem::path& path)
    {
        Peer peer(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        peer.connectTo(reinterpret_cast<const sockaddr*>(&address), sizeof address);
        return peer;
    }

    Peer(Peer&& other) noexcept : fd_(std::exchange(other.fd_, -1)), connected_(other.connected_) { }
    ~Peer() { close(); }

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    void send(const std::string& bytes) const { sendBytes(bytes.data(), bytes.size()); }
    void sendBytes(const void* bytes, size_t length) const
    {
        ASSERT_EQ(::send(fd_, bytes, length, MSG_NOSIGNAL), ssize_t(length));
    }
    // Reads until `length` bytes came or the stream ended.
    std::string receive(size_t length) const
    {
        std::string bytes(length, '\0');
        size_t got = 0;
        while (got < length) {
            const ssize_t n = ::recv(fd_, bytes.data() + got, length - got, 0);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        bytes.resize(got);
        return bytes;
    }
    // True when the other side closed: a read gives end of stream.
    bool seesEndOfStream() const
    {
        char byte = 0;
        return ::recv(fd_, &byte, 1, 0) == 0;
    }
    void shutdownWrite() const { ::shutdown(fd_, SHUT_WR); }
    void close()
    {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    explicit Peer(int fd) : fd_(fd) { }
    void connectTo(const sockaddr* address, socklen_t length)
    {
        connected_ = ::connect(fd_, address, length) == 0;
        // A reader that waits forever would hang the run: a broken build fails instead.
        const timeval limit{30, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }

    int fd_;
    bool connected_ = false;
};

// A listener on 127.0.0.1 at a kernel-chosen port, with a recording delegate on its own queue.
class NetSocketFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener = NetSocket::create(delegate, delegateQueue);
        NetSocketError error;
        ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error)) << error.description;
        port = listener->localPort();
        ASSERT_NE(port, 0);
    }

    // A peer connected to the listener, and the accepted child that is its other end.
    std::shared_ptr<NetSocket> acceptPeer(std::optional<Peer>& peer)
    {
        const size_t index = delegate->connectedWhenAccepted().size();
        peer.emplace(Peer::connectTo("127.0.0.1", port));
        EXPECT_TRUE(peer->connected());
        EXPECT_TRUE(delegate->waitForAccepts(index + 1));
        return delegate->child(index);
    }

    // Waits until the delegate queue has run everything posted to it so far.
    void flushDelegateQueue()
    {
        delegateQueue->sync([] {});
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<SerialQueue> delegateQueue = SerialQueue::create("delegate");
    std::shared_ptr<NetSocket> listener;
    uint16_t port = 0;
};

// A connection: a plain peer and the accepted child that is its other end.
class NetSocketConnectionFixture : public NetSocketFixture {
protected:
    void SetUp() override
    {
        NetSocketFixture::SetUp();
        child = acceptPeer(peer);
        ASSERT_NE(child, nullptr);
    }

    std::optional<Peer> peer;
    std::shared_ptr<NetSocket> child;
};

inline std::vector<uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}
