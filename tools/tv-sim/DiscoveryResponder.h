#pragma once

#include "tv-sim/WakeFd.h"

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The TV's side of discovery: a UDP socket on a chosen address and port whose own thread answers
// every discovery request (0x24 0x10 ...) with the reply 0x24 0x11 0x00 "name&mac&" + one character
// + casting code, NUL-terminated. Test options make it misbehave as a faulty or foreign peer would.
class DiscoveryResponder {
public:
    struct Tv {
        std::string name;
        std::string macAddr;
        std::string screenCode;
    };

    struct Options {
        std::string address = "127.0.0.1";
        uint16_t port = 0; // 0: the kernel chooses (see port())
        // Each request is answered once per entry, in order: two entries answer like two TVs.
        std::vector<Tv> tvs{{"Pelkor TV", "02:00:00:00:00:01", "A1B2C3"}};
        // Send another sender's request (0x24 0x10 ...) back before the answers.
        bool foreignFirst = false;
        // Answer with 1,024-byte replies whose text has no terminator.
        bool oversized = false;
        // After the first request, repeat the answers to its sender every 100 ms until stopped.
        bool forever = false;
    };

    // The character between the MAC address's "&" and the casting code.
    static constexpr char kCodeLead = '0';

    // nullptr (logged) when the socket cannot be bound.
    static std::unique_ptr<DiscoveryResponder> start(Options options);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    uint16_t port() const { return port_; }
    // Discovery requests received so far.
    int requests() const { return requests_.load(); }
    // Stops and joins the thread; safe to call more than once.
    void stop();

private:
    DiscoveryResponder(Options options, int fd);
    void run();
    void receive(sockaddr_storage& peer, socklen_t& peerLength);
    void send(const std::vector<uint8_t>& datagram, const sockaddr_storage& peer, socklen_t peerLength) const;
    void answer(const sockaddr_storage& peer, socklen_t peerLength) const;

    const Options options_;
    // The datagrams that answer one request.
    const std::vector<std::vector<uint8_t>> answers_;
    int fd_ = -1;
    const uint16_t port_;
    std::atomic<int> requests_{0};
    WakeFd wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
