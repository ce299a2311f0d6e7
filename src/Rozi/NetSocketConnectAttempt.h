#pragma once

#include "Platform/DispatchQueue.h"
#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketError.h"

#include <functional>
#include <memory>

class DispatchSource;
class NetSocketDescriptor;
struct NetSocketContext;

// One outgoing connection of a NetSocket to one address, on a non-blocking descriptor: connect()
// returns at once and write readiness tells the outcome, so no thread ever waits in connect() and
// destroying the attempt ends it for good, its descriptor closed. Used on the socket queue.
class NetSocketConnectAttempt {
public:
    // The outcome, on the socket queue while the socket lives: 0 when connected, else the errno of
    // the failed connect. It may destroy the attempt.
    using Done = std::function<void(NetSocketConnectAttempt& attempt, int errorNumber)>;

    // A socket of the address's family, bound first to `interface` when that is not empty; null,
    // with the error, when a step fails.
    static std::unique_ptr<NetSocketConnectAttempt> create(NetSocketContext& context,
        NetSocketAddress::Data address, const NetSocketAddress::Data& interface, NetSocketError* error);
    ~NetSocketConnectAttempt();
    NetSocketConnectAttempt(const NetSocketConnectAttempt&) = delete;
    NetSocketConnectAttempt& operator=(const NetSocketConnectAttempt&) = delete;

    // Connects; once only.
    void start(Done done);
    bool started() const { return static_cast<bool>(done_); }
    int family() const;
    // The connected descriptor, now the caller's; the attempt is spent.
    int release();

private:
    NetSocketConnectAttempt(NetSocketContext& context, int fd, NetSocketAddress::Data address);
    void connectNow();
    void onWritable();
    // Runs the work on the socket queue after `delay`, unless the attempt goes first.
    void later(DispatchQueue::Clock::duration delay, std::function<void()> work);

    NetSocketContext& context_;
    // Shared with the readiness source, whose cancel handler closes it once the reactor lets go.
    const std::shared_ptr<NetSocketDescriptor> fd_;
    const NetSocketAddress::Data address_;
    Done done_;
    std::unique_ptr<DispatchSource> writable_;
    std::shared_ptr<DispatchQueue::DelayedTask> pending_;
};
