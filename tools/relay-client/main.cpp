// relay-client: a client of the camera and microphone relay, standing in for the virtual camera and
// microphone (which have no counterpart on this system). It connects to 127.0.0.1, names itself by the
// four little-endian bytes of 159 (camera) or 158 (microphone), and writes every byte it receives to a
// file, printing the count once a second and at the end.
//
//   relay-client camera|mic [--port P] [--seconds N] [--out FILE]
//
//   --port P      the relay's port; default 8888
//   --seconds N   stop after N seconds (a decimal number); default: when the relay closes, or on
//                 SIGINT or SIGTERM
//   --out FILE    where the bytes go; default none (they are only counted)
//
// Lines on standard output:
//   connected 127.0.0.1:<port> as <camera|mic>
//   bytes=<total so far>                      (once a second while bytes come)
//   done bytes=<total> reason=<time|closed|signal>
// Exit status 0 when it ran to its end, 1 when it could not connect or write the file, 2 for bad arguments.

#include "common/LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int)
{
    gStop = 1;
}

struct Arguments {
    int32_t name = 0;
    std::string device;
    uint16_t port = 8888;
    std::optional<double> seconds;
    std::string out;
};

void usage()
{
    std::fprintf(stderr, "usage: relay-client camera|mic [--port P] [--seconds N] [--out FILE]\n");
}

std::optional<Arguments> parse(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    Arguments arguments;
    arguments.device = argv[1];
    if (arguments.device == "camera")
        arguments.name = 159;
    else if (arguments.device == "mic")
        arguments.name = 158;
    else
        return std::nullopt;
    for (int i = 2; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        char* end = nullptr;
        if (flag == "--port") {
            const unsigned long port = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port == 0 || port > 65'535)
                return std::nullopt;
            arguments.port = static_cast<uint16_t>(port);
        } else if (flag == "--seconds") {
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(seconds > 0))
                return std::nullopt;
            arguments.seconds = seconds;
        } else if (flag == "--out") {
            arguments.out = value;
        } else {
            return std::nullopt;
        }
    }
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> arguments = parse(argc, argv);
    if (!arguments) {
        usage();
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    FILE* out = nullptr;
    if (!arguments->out.empty()) {
        out = std::fopen(arguments->out.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "relay-client: cannot write %s: %s\n", arguments->out.c_str(), std::strerror(errno));
            return 1;
        }
    }
    const int fd = LoopbackSocket::connect(arguments->port);
    const uint32_t name = static_cast<uint32_t>(arguments->name);
    const uint8_t naming[4] = {static_cast<uint8_t>(name), static_cast<uint8_t>(name >> 8),
                               static_cast<uint8_t>(name >> 16), static_cast<uint8_t>(name >> 24)};
    if (fd < 0 || !LoopbackSocket::sendAll(fd, naming, sizeof naming)) {
        std::fprintf(stderr, "relay-client: cannot reach 127.0.0.1:%u: %s\n", arguments->port, std::strerror(errno));
        return 1;
    }
    std::printf("connected 127.0.0.1:%u as %s\n", arguments->port, arguments->device.c_str());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = arguments->seconds
                              ? start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*arguments->seconds))
                              : Clock::time_point::max();
    auto nextCount = start + std::chrono::seconds(1);
    uint64_t total = 0;
    uint64_t counted = 0;
    const char* reason = "time";
    uint8_t buffer[65'536];
    for (;;) {
        if (gStop) {
            reason = "signal";
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        if (now >= nextCount) {
            if (total != counted)
                std::printf("bytes=%llu\n", static_cast<unsigned long long>(total));
            std::fflush(stdout);
            counted = total;
            nextCount += std::chrono::seconds(1);
        }
        const auto wait = std::min(deadline, nextCount) - now;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1,
                                 static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
        if (ready <= 0)
            continue; // time passed, or a signal
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = "closed";
            break;
        }
        total += static_cast<uint64_t>(n);
        if (out && std::fwrite(buffer, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
            std::fprintf(stderr, "relay-client: cannot write %s\n", arguments->out.c_str());
            return 1;
        }
    }
    ::close(fd);
    if (out && std::fclose(out) != 0) {
        std::fprintf(stderr, "relay-client: cannot write %s\n", arguments->out.c_str());
        return 1;
    }
    std::printf("done bytes=%llu reason=%s\n", static_cast<unsigned long long>(total), reason);
    return 0;
}
