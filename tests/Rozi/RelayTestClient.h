#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

// A local client of the relay on 127.0.0.1, as the virtual camera or microphone would be: blocking
// reads bounded by a real-time limit, so a broken relay fails a test rather than hanging it.
class RelayTestClient {
public:
    explicit RelayTestClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RelayTestClient() { close(); }
    RelayTestClient(const RelayTestClient&) = delete;
    RelayTestClient& operator=(const RelayTestClient&) = delete;

    bool connected() const { return connected_; }

    bool send(const std::vector<uint8_t>& bytes) const
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // The four little-endian bytes of a client's name (158 microphone, 159 camera).
    bool name(int32_t value) const
    {
        const auto v = static_cast<uint32_t>(value);
        return send({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)});
    }

    // Reads until `length` bytes came, the stream ended or the limit passed.
    std::vector<uint8_t> receive(size_t length, std::chrono::milliseconds limit = std::chrono::seconds(10)) const
    {
        return read(length, limit);
    }
    // Everything that arrives within the time.
    std::vector<uint8_t> receiveFor(std::chrono::milliseconds time) const { return read(SIZE_MAX, time); }

    // True once the relay closed the connection (what came before is skipped), within the limit.
    bool closedByRelay(std::chrono::milliseconds limit = std::chrono::seconds(10)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        uint8_t chunk[4096];
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
                return false;
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return true;
        }
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    std::vector<uint8_t> read(size_t length, std::chrono::milliseconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::vector<uint8_t> bytes;
        uint8_t chunk[65'536];
        while (bytes.size() < length) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
                break;
            const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, length - bytes.size()), 0);
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    int fd_;
    bool connected_ = false;
};
