#pragma once

#include "Socket/FrameStreamSplitter.h"
#include "Socket/MessageFragmenter.h"
#include "Socket/FrameTestSupport.h"
#include "Socket/MessageType.h"
#include "Socket/TcpClient.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

inline constexpr auto kWaitLimit = std::chrono::milliseconds(20'000);

// Short waits so the tests run fast; no heartbeat unless a test asks for one, so the peer sees only
// what the test sends.
inline TcpClient::Timing quickTiming()
{
    TcpClient::Timing timing;
    timing.connectTimeout = 5'000ms;
    timing.receiveTimeout = 1'000ms;
    timing.receiveTimeouts = 600;
    timing.heartbeatInterval = 3'600'000ms;
    timing.sendTimeout = 60'000ms;
    return timing;
}

// Polls a condition that no event announces (such as a peer's counters) within the wait limit.
inline bool eventually(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

inline std::vector<uint8_t> indexPayload(uint32_t index, size_t length = 16)
{
    std::vector<uint8_t> payload(std::max<size_t>(length, 4), 0);
    std::memcpy(payload.data(), &index, 4);
    return payload;
}

inline uint32_t payloadIndex(std::span<const uint8_t> payload)
{
    uint32_t index = 0;
    std::memcpy(&index, payload.data(), std::min<size_t>(payload.size(), 4));
    return index;
}

// Holds threads until opened; opening twice is harmless.
class Gate {
public:
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// One event the client raised, copied out of the listener call.
struct ClientEvent {
    int type = 0;
    std::optional<std::string> text;
    std::vector<uint8_t> data;
    bool hasData = false;
    uint64_t timeStamp = 0;
    uint32_t length = 0;
};

// The client's listener: records every event and runs an optional hook inside the listener call.
class EventRecorder {
public:
    using Hook = std::function<void(TcpClient& client, const ClientEvent& event)>;

    EventRecorder()
    {
        info.fn = &EventRecorder::onEvent;
        info.user = this;
    }

    void setHook(Hook hook)
    {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    std::vector<ClientEvent> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

    std::vector<ClientEvent> events(int type) const
    {
        auto all = events();
        std::erase_if(all, [type](const ClientEvent& event) { return event.type != type; });
        return all;
    }

    size_t count(int type) const { return events(type).size(); }

    bool waitFor(int type, size_t count = 1, std::chrono::milliseconds limit = kWaitLimit) const
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), [type](const ClientEvent& event) {
                       return event.type == type;
                   })) >= count;
        });
    }

    TcpNativeInfo info;

private:
    static int onEvent(void* user, TcpClient* client, int type, const char* text, const uint8_t* data,
                       uint64_t timeStamp, uint32_t length)
    {
        auto* self = static_cast<EventRecorder*>(user);
        ClientEvent event{type, text ? std::optional<std::string>(text) : std::nullopt, {}, data != nullptr,
                          timeStamp, length};
        if (data)
            event.data.assign(data, data + length);
        Hook hook;
        {
            std::lock_guard lock(self->mutex_);
            self->events_.push_back(event);
            hook = self->hook_;
        }
        self->changed_.notify_all();
        if (hook)
            hook(*client, event);
        return 0;
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ClientEvent> events_;
    Hook hook_;
};

// A socket of the type bound to 127.0.0.1 on a port from the kernel, which port() tells.
class LoopbackSocket {
public:
    explicit LoopbackSocket(int type)
    {
        fd_ = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address_;
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length) != 0)
            ADD_FAILURE() << "cannot bind a loopback socket";
    }
    ~LoopbackSocket() { ::close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int fd() const { return fd_; }
    const sockaddr_in& address() const { return address_; }
    uint16_t port() const { return ntohs(address_.sin_port); }

private:
    int fd_ = -1;
    sockaddr_in address_{};
};

inline bool readable(int fd, std::chrono::milliseconds limit = kWaitLimit)
{
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, static_cast<int>(limit.count())) == 1;
}

// A port on 127.0.0.1 that refuses connections: bound, never listening.
struct RefusingPort : LoopbackSocket {
    RefusingPort() : LoopbackSocket(SOCK_STREAM) {}
};

// A listener on 127.0.0.1 whose one-place backlog is taken by a connection of its own, so the
// kernel drops every new connection attempt (it retries) until open() accepts that connection.
class StalledListener : public LoopbackSocket {
public:
    StalledListener() : LoopbackSocket(SOCK_STREAM)
    {
        if (::listen(fd(), 0) != 0 ||
            ::connect(filler_, reinterpret_cast<const sockaddr*>(&address()), sizeof(sockaddr_in)) != 0)
            ADD_FAILURE() << "cannot fill a loopback listener's backlog";
    }
    ~StalledListener() { ::close(filler_); }

    // Makes room in the backlog: the attempt waiting for it gets through on its next try.
    void open()
    {
        if (readable(fd()))
            ::close(::accept(fd(), nullptr, nullptr));
    }
    // The next connection within limit that got through, -1 when none.
    int accept(std::chrono::milliseconds limit)
    {
        return readable(fd(), limit) ? ::accept4(fd(), nullptr, nullptr, SOCK_CLOEXEC) : -1;
    }

private:
    int filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};

// A bare TCP peer on 127.0.0.1 for what the TV peer does not do: never accept, read exactly when
// the test says, keep a small receive buffer.
class RawPeer {
public:
    // receiveBuffer > 0 shrinks the accepted socket's receive buffer so a peer that stops
    // reading holds the client's send thread back quickly.
    explicit RawPeer(int receiveBuffer = 0)
    {
        if (receiveBuffer > 0)
            ::setsockopt(listener_.fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        ::listen(listener_.fd(), 16);
    }
    ~RawPeer()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    uint16_t port() const { return listener_.port(); }

    bool accept()
    {
        if (!readable(listener_.fd()))
            return false;
        fd_ = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        return fd_ >= 0;
    }

    // Reads exactly count bytes of the stream; false on end or time-out.
    bool readBytes(size_t count)
    {
        while (count > 0) {
            const ssize_t got = readChunk(count);
            if (got <= 0)
                return false;
            count -= static_cast<size_t>(got);
        }
        return true;
    }

    // Reads until at least count messages are in; false on end or time-out.
    bool readMessages(size_t count)
    {
        while (messages().size() < count) {
            if (readChunk(SIZE_MAX) <= 0)
                return false;
        }
        return true;
    }

    // Reads until the client closes the stream; false on time-out.
    bool readToEnd()
    {
        for (;;) {
            const ssize_t got = readChunk(SIZE_MAX);
            if (got <= 0)
                return got == 0;
        }
    }

    bool send(uint16_t type, std::span<const uint8_t> payload = {})
    {
        bool ok = true;
        fragmenter_.send(sequence_++, type, 0, payload, [&](std::span<const uint8_t> fragment) {
            ok = ::send(fd_, fragment.data(), fragment.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(fragment.size());
            return ok;
        });
        return ok;
    }

    // Closes the accepted connection without reading what waits in it, so the client's next writes
    // meet a reset.
    void closeConnection()
    {
        ::close(fd_);
        fd_ = -1;
    }

    const std::vector<CollectedMessage>& messages() const { return collector_.messages; }

private:
    // At most limit bytes into the splitter: their count, 0 at the end, -1 on time-out.
    ssize_t readChunk(size_t limit)
    {
        if (!readable(fd_))
            return -1;
        const auto space = splitter_.writableSpace();
        const ssize_t got = ::recv(fd_, space.data(), std::min(limit, space.size()), 0);
        if (got > 0)
            splitter_.commit(static_cast<size_t>(got));
        return got;
    }

    LoopbackSocket listener_{SOCK_STREAM};
    int fd_ = -1;
    CollectingReassembler collector_;
    FrameStreamSplitter splitter_{collector_.reassembler};
    MessageFragmenter fragmenter_;
    uint32_t sequence_ = 0;
};

// A TV peer that sends nothing of its own unless asked.
inline TvSim::Options quietTv()
{
    TvSim::Options options;
    options.heartbeatInterval = 0ms;
    return options;
}

// A client connected to a quiet TV peer.
struct TvLinkFixture : testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(tv.start());
        ASSERT_TRUE(connect());
        ASSERT_TRUE(tv.waitForConnection());
    }

    bool connect() { return client.connect("127.0.0.1", tv.port()); }

    int send(uint16_t type, const std::vector<uint8_t>& payload)
    {
        return client.send(type, payload.data(), static_cast<int>(payload.size()));
    }

    // Makes sure the client's receive thread has handled everything the TV sent before.
    void syncWithReceiveThread()
    {
        const size_t before = events.count(kMsgScreenCode);
        ASSERT_TRUE(tv.send(kMsgScreenCode, TvMessages::text("sync")));
        ASSERT_TRUE(events.waitFor(kMsgScreenCode, before + 1));
    }

    TvSim tv{quietTv()};
    EventRecorder events;
    TcpClient client{&events.info, quickTiming()};
};
