// Feeds arbitrary bytes from a local client to the camera and microphone relay, as the chunks a
// client sends: the first byte sets the chunk size, the rest is the stream. Each chunk is checked
// against the naming rule, then the whole stream goes to a live relay on 127.0.0.1 over one
// connection, as a camera or microphone plug-in would send it.
#include "Rozi/RoziRelay.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// One relay for the whole run, and a client connection, made again when the relay closed it.
struct LiveRelay {
    LiveRelay() : relay(RoziRelay::create(services()))
    {
        relay->enableServer("127.0.0.1", 0);
        relay->enableRoziFunction(true);
        relay->setConnectWithTv(true);
    }

    static RoziRelay::Services services()
    {
        RoziRelay::Services services;
        services.send = [](uint16_t) {};
        services.showTip = [](std::string) {};
        return services;
    }

    int client()
    {
        if (fd >= 0)
            return fd;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(relay->serverPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
        return fd;
    }

    void send(std::span<const uint8_t> bytes)
    {
        const int socket = client();
        if (socket >= 0 && ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
            ::close(fd);
            fd = -1;
        }
    }

    std::shared_ptr<RoziRelay> relay;
    int fd = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // Never destroyed: its sockets' queues must outlive whatever the process ends with.
    static LiveRelay& live = *new LiveRelay;
    const size_t chunkSize = std::max<size_t>(data[0], 1);
    const std::span<const uint8_t> stream(data + 1, size - 1);
    for (size_t offset = 0; offset < stream.size(); offset += chunkSize) {
        const auto chunk = stream.subspan(offset, std::min(chunkSize, stream.size() - offset));
        const auto name = RoziRelay::clientName(chunk);
        require(name.has_value() == (chunk.size() >= 4));
        if (name) {
            int32_t expected = 0;
            std::memcpy(&expected, chunk.data(), sizeof expected);
            require(*name == expected);
        }
    }
    live.send(stream);
    // Whatever the relay did with the bytes, it still answers.
    live.relay->status();
    return 0;
}
