// Delivered throughput of TcpClient to the TV peer over loopback, beside the same bytes written
// through a plain TCP socket pair as the anchor of the ratio. The two take turns within one run
// (the order swapped every round), so both see the same load of the machine.
//   bench-transport [seconds per round, default 1] [rounds per size, default 5]
#include "Socket/MessageType.h"
#include "Socket/TcpClient.h"
#include "Socket/TransportFrameHeader.h"
#include "tv-sim/TvSim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What one timed run delivered.
struct Run {
    double bytes = 0;
    double messages = 0;
    double seconds = 0;
};

// The runs of one side summed over the rounds.
struct Tally {
    Run total;

    void add(const Run& run)
    {
        total.bytes += run.bytes;
        total.messages += run.messages;
        total.seconds += run.seconds;
    }
    double megabytesPerSecond() const { return total.bytes / total.seconds / 1e6; }
    double messagesPerSecond() const { return total.messages / total.seconds; }
};

int noListener(void*, TcpClient*, int, const char*, const uint8_t*, uint64_t, uint32_t)
{
    return 0;
}

// Keeps at most `window` messages between the client and the peer, so the client's capped lists
// never drop one and every byte counted was delivered.
Run throughClient(size_t size, double seconds)
{
    TvSim::Options options;
    options.keepPayloads = false;
    // The peer stands for a TV that only takes the bytes in: hashing them would be measured instead.
    options.digestPayloads = false;
    options.heartbeatInterval = std::chrono::milliseconds(0);
    TvSim tv(options);
    if (!tv.start()) {
        std::fprintf(stderr, "tv-sim did not start\n");
        std::exit(1);
    }
    TcpNativeInfo info{nullptr, nullptr, nullptr, noListener, nullptr};
    TcpClient client(&info);
    if (!client.connect("127.0.0.1", tv.port()) || !tv.waitForConnection()) {
        std::fprintf(stderr, "no link to tv-sim\n");
        std::exit(1);
    }
    const std::vector<uint8_t> payload(size, 0x5A);
    const size_t window = 16;
    size_t sent = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (sent >= window && !tv.waitForMessagesOfType(kMsgVideoFrame, sent - window + 1))
            break;
        client.send(kMsgVideoFrame, payload.data(), static_cast<int>(payload.size()));
        ++sent;
    }
    tv.waitForMessagesOfType(kMsgVideoFrame, sent);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const size_t delivered = tv.receivedCount(kMsgVideoFrame);
    client.disconnect(1);
    return {delivered * double(size), double(delivered), elapsed};
}

// The same message bytes (a header per 64 KiB fragment) through a plain socket pair.
Run throughPlainSocket(size_t size, double seconds)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("plain socket");
        std::exit(1);
    }
    const int writer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int reader = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    size_t received = 0;
    std::thread drain([reader, &received] {
        std::vector<uint8_t> buffer(262'168);
        for (;;) {
            const ssize_t got = ::recv(reader, buffer.data(), buffer.size(), 0);
            if (got <= 0)
                return;
            received += static_cast<size_t>(got);
        }
    });
    const size_t fragments = (size + 65'535) / 65'536;
    const size_t wire = size + fragments * TransportFrameHeader::kSize;
    const std::vector<uint8_t> fragment(TransportFrameHeader::kSize + 65'536, 0x5A);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        size_t left = size;
        do {
            const size_t chunk = std::min<size_t>(left, 65'536);
            if (::send(writer, fragment.data(), TransportFrameHeader::kSize + chunk, MSG_NOSIGNAL) < 0) {
                std::perror("send");
                std::exit(1);
            }
            left -= chunk;
        } while (left > 0);
    }
    ::shutdown(writer, SHUT_WR);
    drain.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(writer);
    ::close(reader);
    const double delivered = double(received) / double(wire);
    return {delivered * double(size), delivered, elapsed};
}

const char* sizeName(size_t size)
{
    return size < (size_t(1) << 20) ? "64 KiB" : size == (size_t(1) << 20) ? "1 MiB" : "2 MiB";
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::string table = "message       client MB/s   client msg/s  plain sock MB/s    ratio\n";
    for (const size_t size : {size_t(64) << 10, size_t(1) << 20, size_t(2) << 20}) {
        Tally client;
        Tally plain;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                client.add(throughClient(size, seconds));
                plain.add(throughPlainSocket(size, seconds));
            } else {
                plain.add(throughPlainSocket(size, seconds));
                client.add(throughClient(size, seconds));
            }
        }
        char row[128];
        std::snprintf(row, sizeof row, "%-10s %14.0f %14.0f %16.0f %8.2f\n", sizeName(size),
                      client.megabytesPerSecond(), client.messagesPerSecond(), plain.megabytesPerSecond(),
                      client.megabytesPerSecond() / plain.megabytesPerSecond());
        table += row;
    }
    // Printed after the runs, so the client's log lines don't break up the table.
    std::printf("cores: %u, %d rounds of %.1f s per size and side\n%s", std::thread::hardware_concurrency(),
                rounds, seconds, table.c_str());
    return 0;
}
