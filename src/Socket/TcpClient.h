#pragma once

#include "Socket/StreamHistories.h"
#include "Socket/TcpConnection.h"
#include "Socket/TcpNativeInfo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class ReassembledMessage;
class ReceiveList;

// The framed TCP client of the TV link. One client serves every connection of its owner. Each
// connection runs five threads: receive (reassembles messages, answers the link-level ones and
// raises every other one to the listener), heartbeat, audio delivery, video delivery and send (the
// only writer of the socket, serving three bounded priority lists). Once the TV opens the UDP side
// channel, the kinds of message its route mask selects go out as datagrams on the caller's thread.
// Each connection ends with one kMsgDisconnected whose payload is one LinkEndReason byte: a
// disconnect here, the TV's hang-up or reset, or silence and failed writes (the network).
//
// connect, send and disconnect may be called from any thread, at once, and from inside a listener
// call. All state of one connection lives in one object that connect and disconnect swap under a
// lifecycle lock; its threads are joined outside any lock they need. A disconnect called on a
// transport thread (inside a listener call) can't join them: they are joined by the next connect or
// disconnect called on another thread, or by the destructor. The library installs no signal
// handler: writes use MSG_NOSIGNAL.
class TcpClient {
public:
    // Every waiting time of the link. The defaults are the link's own; tests shorten them.
    struct Timing {
        std::chrono::milliseconds connectTimeout{5'000};
        // A read that waits this long counts as one time-out; receiveTimeouts in a row end the link.
        std::chrono::milliseconds receiveTimeout{1'000};
        int receiveTimeouts = 15;
        std::chrono::milliseconds heartbeatInterval{1'000};
        // A write that makes no progress for this long fails.
        std::chrono::milliseconds sendTimeout{5'000};
    };

    // What send returns when the message's send list was full and the message was dropped.
    static constexpr int kDropped = TcpConnection::kDropped;

    // The largest received video frame handed to the listener; larger ones are dropped.
    static constexpr size_t kMaxVideoFrame = 2'097'152;

    // listener must outlive the client. No thread runs until connect.
    explicit TcpClient(TcpNativeInfo* listener);
    TcpClient(TcpNativeInfo* listener, Timing timing);
    // Disconnects and joins every thread. Not from a listener call.
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // Connects to host (dotted IPv4 text) within the connect time-out and starts the connection's
    // threads. False when a connection is open or being made, the host is not an IPv4 address, the
    // connection is refused or times out, or a disconnect ended it while it was being made.
    bool connect(const std::string& host, uint16_t port);
    // Queues a copy of the message, or sends it over the UDP side channel when its route mask
    // selects the type. Never waits for the network. -1 when not connected (or the payload can't
    // travel: a null pointer with a length, or more than 255 fragments); the UDP send's byte count;
    // 0 when the link closed meanwhile; kDropped when a full list dropped the message; else length.
    int send(uint16_t type, const uint8_t* data, int length);
    // Ends the connection: shuts the socket (which ends the receive loop; it raises
    // kMsgDisconnected, with the text "1" when reason is not 0, and LinkEndReason::Released), closes
    // the UDP side channel, drops every queued message and joins the threads (see above). A connect
    // still waiting for its handshake is ended instead: it returns false and raises nothing. Else
    // nothing.
    void disconnect(uint8_t reason);

    // Drops the video and audio frames still waiting for the send thread; the frame it is writing
    // goes out whole, control messages stay. Media the route mask sends over the UDP side channel
    // never waits, so there is nothing of it to drop. Any thread; nothing when not connected.
    void dropQueuedMedia();

    // Whether a connection is open to host (dotted IPv4 text), whatever its port.
    bool isConnectedTo(const std::string& host) const;
    // The connected TV's dotted address, "0.0.0.0" when no connection is open.
    std::string peerAddress() const;

private:
    using Connection = TcpConnection;
    using ConnectionPtr = std::shared_ptr<Connection>;

    ConnectionPtr currentConnection() const;
    // Starts the connection's five threads; with the lifecycle lock held. False when the system
    // refused a thread; the caller then ends the connection.
    bool startThreads(Connection& connection);
    // With the lifecycle lock held: accounts at once for a connection taken out of service, so
    // no thread can see every connection ended while it still runs. On a transport thread it is
    // parked; otherwise the caller joins it in finishTeardowns.
    void beginTeardown(const ConnectionPtr& connection);
    // Joins own (counted by beginTeardown, or null) and every parked connection, then waits until
    // no other thread is still joining one. Nothing on a transport thread.
    void finishTeardowns(ConnectionPtr own);
    bool onTransportThread() const;

    // The bodies of the receive and delivery threads; the connection runs its send and heartbeat.
    void receiveLoop(Connection& connection);
    void deliveryLoop(ReceiveList& list);

    // Receive thread: the link-level handling of one complete message.
    void dispatch(Connection& connection, const ReassembledMessage& message);
    void answerHeartbeat(Connection& connection, std::span<const uint8_t> payload);
    void answerEcho(Connection& connection, std::span<const uint8_t> payload);
    void raiseClientInfo(std::span<const uint8_t> payload);

    void raise(int type, const char* text = nullptr, const uint8_t* data = nullptr, uint64_t timeStampUs = 0,
               uint32_t length = 0);

    TcpNativeInfo* const listener_;
    const Timing timing_;
    // Kept for the client's life: message ids of the UDP side channel are never reused.
    StreamHistories histories_;
    // Sent in heartbeat answers; bit 0 asks the TV for its client information again.
    std::atomic<uint8_t> status_{0};

    mutable std::mutex lifecycleMutex_;
    // Signals the end of a teardown or of a connect's wait.
    std::condition_variable lifecycleChanged_;
    ConnectionPtr current_;
    // A connect waiting for the handshake; a disconnect meanwhile cancels it, and the connect then
    // publishes nothing and returns false.
    struct PendingConnect {
        int fd = -1;
        bool cancelled = false;
        // With the lifecycle lock held.
        void cancel();
    };
    std::optional<PendingConnect> pending_;
    // Connections ended on a transport thread, whose threads are still to be joined.
    std::vector<ConnectionPtr> parked_;
    // Connections whose threads some thread is joining right now.
    size_t teardowns_ = 0;
};
