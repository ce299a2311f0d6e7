#pragma once

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketNotifier.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class NetSocket;
struct NetSocketError;

// The state the parts of one NetSocket share. Touched only on its socket queue.
struct NetSocketContext {
    explicit NetSocketContext(std::shared_ptr<SerialQueue> queue) : socketQueue(std::move(queue)) { }

    bool has(uint32_t bits) const { return (flags & bits) != 0; }
    // The connected descriptor: IPv4, else IPv6, else unix domain.
    int connectedFD() const { return socket4FD >= 0 ? socket4FD : socket6FD >= 0 ? socket6FD : socketUN; }

    // Runs the query on the socket queue and waits for its answer; inline when already there.
    template <class Result> Result answer(const std::function<Result()>& query) const
    {
        Result result{};
        socketQueue->sync([&] { result = query(); });
        return result;
    }

    const std::shared_ptr<SerialQueue> socketQueue;
    // Handlers and timers hold the socket through this, weakly: a socket released meanwhile hears nothing.
    std::weak_ptr<NetSocket> self;
    uint32_t flags = 0;
    uint16_t config = 0;
    // The generation of connect attempts: a result that carries an older one is ignored.
    uint64_t stateIndex = 0;
    int socket4FD = -1;
    int socket6FD = -1;
    int socketUN = -1;
    NetSocketNotifier notifier;
};

// How the reading and writing parts end their socket.
class NetSocketCloser {
public:
    virtual void closeWithError(std::optional<NetSocketError> error) = 0;
    // Closes when the disconnect-after requests find nothing left to read or write.
    virtual void maybeClose() = 0;

protected:
    ~NetSocketCloser() = default;
};
