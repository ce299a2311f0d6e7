#pragma once

#include "Socket/MessageFragmenter.h"
#include "Socket/TransportFrameHeader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The client's end of a loopback link, built from plain sockets and the project's fragmenter only,
// so the TV peer is checked against nothing of its own. Reads give up after a few seconds rather
// than hang a broken test.
class RawLink {
public:
    struct Frame {
        TransportFrameHeader header;
        std::vector<uint8_t> payload;
    };

    explicit RawLink(uint16_t port, int type = SOCK_STREAM) : fd_(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
    {
        const timeval limit{.tv_sec = 10, .tv_usec = 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawLink() { ::close(fd_); }
    RawLink(const RawLink&) = delete;
    RawLink& operator=(const RawLink&) = delete;

    bool connected() const { return connected_; }

    // Every fragment of one message, each fragment one send call (one datagram on UDP).
    bool sendMessage(uint32_t sequence, uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload,
                     MessageFragmenter fragmenter = {},
                     std::optional<std::span<const uint32_t>> selection = std::nullopt)
    {
        const auto result = fragmenter.send(
            sequence, type, timeStamp, payload,
            [this](std::span<const uint8_t> fragment) {
                return ::send(fd_, fragment.data(), fragment.size(), MSG_NOSIGNAL) ==
                       static_cast<ssize_t>(fragment.size());
            },
            selection);
        return result.status == MessageFragmenter::Status::Sent;
    }

    // As much of bytes as the socket takes now without blocking; -1 when it takes nothing.
    ssize_t sendSome(std::span<const uint8_t> bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    bool sendAll(std::span<const uint8_t> bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    // One fragment as the peer wrote it; nullopt at the end of the stream or after the time limit.
    std::optional<Frame> readFrame()
    {
        std::vector<uint8_t> head(TransportFrameHeader::kSize);
        if (!readExactly(head))
            return std::nullopt;
        Frame frame{*TransportFrameHeader::decode(head), {}};
        frame.payload.resize(frame.header.fragmentLength);
        if (!readExactly(frame.payload))
            return std::nullopt;
        return frame;
    }

    // The next fragment of the given type, skipping others (the peer's heartbeats, say).
    std::optional<Frame> readFrame(uint16_t type)
    {
        while (auto frame = readFrame())
            if (frame->header.type == type)
                return frame;
        return std::nullopt;
    }

    // The next whole message of the given type, its fragments joined; nullopt when the stream ends
    // or a read times out first.
    std::optional<Frame> readMessage(uint16_t type)
    {
        auto message = readFrame(type);
        if (!message)
            return std::nullopt;
        for (int index = message->header.fragmentIndex + 1; index < message->header.fragmentCount; ++index) {
            auto fragment = readFrame(type);
            if (!fragment)
                return std::nullopt;
            message->payload.insert(message->payload.end(), fragment->payload.begin(), fragment->payload.end());
        }
        return message;
    }

    // One datagram (or whatever one read gives on a stream); nullopt after the time limit.
    std::optional<std::vector<uint8_t>> readDatagram()
    {
        std::vector<uint8_t> datagram(65'536);
        const ssize_t got = ::recv(fd_, datagram.data(), datagram.size(), 0);
        if (got < 0)
            return std::nullopt;
        datagram.resize(static_cast<size_t>(got));
        return datagram;
    }

    // True when the peer closed the stream (after whatever it still had to say).
    bool readsEnd()
    {
        uint8_t byte;
        ssize_t got;
        while ((got = ::recv(fd_, &byte, 1, 0)) > 0) {
        }
        return got == 0;
    }

private:
    bool readExactly(std::span<uint8_t> out)
    {
        while (!out.empty()) {
            const ssize_t got = ::recv(fd_, out.data(), out.size(), 0);
            if (got <= 0)
                return false;
            out = out.subspan(static_cast<size_t>(got));
        }
        return true;
    }

    int fd_;
    bool connected_ = false;
};
