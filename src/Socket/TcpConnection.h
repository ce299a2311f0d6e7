#pragma once

#include "Socket/LinkEndReason.h"
#include "Socket/ReceiveList.h"
#include "Socket/SendLists.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

class StreamHistories;
class UdpChannel;

// Everything of one link connection: its socket, the send and receive lists, the UDP side channel
// and the five threads TcpClient starts for it. It writes to the peer itself (queueing, the UDP
// route, the send and heartbeat threads); reading and the listener stay with TcpClient. Its
// threads hold a reference to it; it is freed (closing the socket) only after they were joined.
struct TcpConnection {
    // What send returns when the message's send list was full and the message was dropped.
    static constexpr int kDropped = -2;

    TcpConnection(int socket, const sockaddr_in& peerAddress, size_t maxVideoFrame);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Tells every thread to end; any thread, more than once. The socket stays open.
    void halt();
    // disconnect: shuts the socket first, so no write or read can hold anything up, then ends the
    // threads and the UDP side channel.
    void close(uint8_t reason);
    void join();

    // Why the link ended: the first cause noted wins (a close here, a failed write, what the receive
    // loop saw), since each one's shutdown makes the others see a closed socket. Any thread.
    void noteEnd(LinkEndReason reason);
    // Released until a cause was noted.
    LinkEndReason endReason() const;

    // Queues a copy of the message, or sends it over the UDP side channel when the route mask selects
    // its type; any thread. -1 once the link stopped running or for more than 255 fragments; the UDP
    // send's byte count; 0 when the lists closed meanwhile; kDropped when a full list dropped it; else
    // the payload's length.
    int send(uint16_t type, std::span<const uint8_t> payload);

    // Receive thread: the TV's UDP requests. A malformed request is logged and dropped.
    void openUdpChannel(std::span<const uint8_t> payload, StreamHistories& histories);
    void resendOverUdp(uint16_t type, std::span<const uint8_t> payload);

    // Thread bodies. The send thread is the only writer of the socket.
    void sendLoop();
    // One request per interval, woken at once when the link ends.
    void heartbeatLoop(std::chrono::milliseconds interval);

    const int fd;
    const sockaddr_in peer;
    // The link runs: cleared by disconnect and by the end of the receive loop.
    std::atomic<bool> running{true};
    std::atomic<uint8_t> closeReason{0};

    SendLists sendLists;
    ReceiveList videoReceive;
    // Received audio is not played: the list takes no frame.
    ReceiveList audioReceive{"AudioData", 0};

    std::thread receiver;
    std::thread heartbeat;
    std::thread audioDelivery;
    std::thread videoDelivery;
    std::thread sender;

private:
    // No cause noted yet.
    static constexpr uint8_t kNoEnd = 0xFF;

    // The UDP side channel when the route mask sends this type over it.
    std::shared_ptr<UdpChannel> udpRouteFor(uint16_t type);

    std::atomic<uint8_t> endReason_{kNoEnd};

    std::mutex heartbeatMutex_;
    std::condition_variable heartbeatWake_;
    bool heartbeatStopped_ = false;

    // Guards the UDP side channel and the route mask.
    std::mutex udpMutex_;
    std::shared_ptr<UdpChannel> udpChannel_;
    uint32_t routeMask_ = 0;
};
