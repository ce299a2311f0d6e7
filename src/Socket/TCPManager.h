#pragma once

#include "Platform/DispatchTimer.h"
#include "Platform/FixedWidthQueue.h"
#include "Socket/KeyExchange.h"
#include "Socket/SessionControl.h"
#include "Socket/SessionDelegates.h"
#include "Socket/SessionEvent.h"
#include "Socket/SessionKeyHolder.h"
#include "Socket/TcpClient.h"
#include "Socket/TcpNativeInfo.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

class PointerFilter;

// The one session with a TV: owns the transport client, connects, builds the messages that need
// more than a payload copy, holds the session key, and turns every message the TV sends into a call
// on one of its delegates, on the thread the message needs: at once on the transport thread that
// raised it (the receive thread; the video delivery thread for the TV's screen stream), on the session
// queue "queue" (processQueue()), or on the main queue one second later. SessionEventTable says which
// for each message. The connect and reverse-control delegates come in parts, each with a slot of its own.
//
// Delegate slots are non-owning: an owner clears its slot before it goes away. Once a setter
// returns, the delegate it replaced is not called any more, on any thread or queue, and no call
// into it is still running, except one on the setter's own stack (a delegate may clear its own slot
// from inside a call). So a delegate call must not wait for a thread that may be setting its slot.
// The slots, the key and every send may be used from any thread; connectToHost runs on the main
// thread and never waits for the network: the connect itself runs on the session queue, which has a
// thread of its own (a connect waits up to its time-out, a link's end joins the transport's threads).
class TCPManager final : private SessionControl {
public:
    // The wait for the TV's server information after connecting.
    static constexpr std::chrono::milliseconds kServerInfoTimeout{1'000};
    static constexpr std::chrono::milliseconds kReverseInviteDelay = SessionEvent::kMainQueueDelay;

    struct Options {
        TcpClient::Timing timing;
        KeyExchange keyExchange;
        // nullptr: the process-wide filter. Otherwise it must outlive the manager.
        PointerFilter* pointerFilter = nullptr;
    };

    // The process-wide session, made on first use (thread-safe) and never destroyed, so no
    // exit-time teardown races the transport's threads.
    static TCPManager& sharedManager();

    TCPManager();
    explicit TCPManager(Options options);
    // Ends the link and waits for the calls it raised. Not from a delegate call, nor on the session
    // queue (asserted).
    ~TCPManager();
    TCPManager(const TCPManager&) = delete;
    TCPManager& operator=(const TCPManager&) = delete;

    // The slot of one delegate interface: a part of the connect or reverse-control delegate
    // (TvConnectionDelegate, TvCastDelegate, ...), or one of the three whole ones; a concern registers
    // for the events it handles. Named explicitly: setDelegate<TvCastDelegate>(this).
    template <class Delegate>
    void setDelegate(std::type_identity_t<Delegate>* delegate)
    {
        delegates_->slot<Delegate>().set(delegate);
    }
    template <class Delegate>
    Delegate* delegate() const
    {
        return delegates_->slot<Delegate>().get();
    }
    // Every part of the connect or reverse-control delegate to one object.
    void setConnectDelegate(VXTcpConnectDelegate* delegate);
    void setReverseControlDelegate(VXTcpReverseControlDelegate* delegate);
    void setReverseVersionDelegate(VXTcpReverseVersionDelegate* delegate);
    void setRoziDelegate(ROZIOperationDelegate* delegate);
    void setActiveVersionsDelegate(ActiveVersionsDelegate* delegate);
    VXTcpReverseVersionDelegate* reverseVersionDelegate() const;
    ROZIOperationDelegate* roziDelegate() const;
    ActiveVersionsDelegate* activeVersionsDelegate() const;

    // Main thread; returns at once. True when a connect to host (dotted IPv4) on port was started:
    // any other link, also one to the same address still waiting for its answer, is closed, and the
    // connect runs on the session queue. Then onConnectFail on the main queue when it fails;
    // otherwise the client information goes out and the TV's server information is awaited
    // kServerInfoTimeout on the main queue: onConnectSuccess when it comes, else onConnectFail when
    // the wait ends, and the link is closed (its end reported by onDisConnect). False, and nothing
    // else, when the link to that address (any port) is up and the TV has answered. A later
    // connectToHost or tcpClientRelease supersedes a connect still under way: it reports nothing,
    // and a link it made meanwhile is closed.
    bool connectToHost(const std::string& host, uint16_t port);
    // Queues a copy of the payload for the TV (or sends it over the UDP side channel). Any thread.
    // False when the message will not reach the TV: no link, a full send list dropped it, the link
    // closed meanwhile, or the type does not exist. A dropped video frame calls for a key frame.
    bool sendType(int type, const uint8_t* data, int len);
    // Drops the video and audio frames still queued for the TV, so none follows the kMsgCastStop
    // sent next; the frame being written goes out whole. Frames sent over the UDP side channel are
    // never queued: they are gone already. Any thread (the main thread, the session queue).
    void dropQueuedMedia();
    // kMsgCastVideoFormat {width, height, 1, 0, 1, 0, mirrorType}.
    void sendVideoResolution(int width, int height, int mirrorType);
    // kMsgClientInfo with the name, or the user's login name when none.
    void sendClientInfo(const std::optional<std::string>& name = std::nullopt);
    // kMsgCastAudioFormat, which carries no payload.
    void sendAudioAACFormatChannels(int channels, int sampleRate, int accObjectFormat);
    // The connected TV's dotted IPv4 address; "0.0.0.0" when no link is open.
    std::string getConnectTvIp() const;
    // Ends the link, and a connect still under way; the end of a link is reported by onDisConnect.
    // Any thread.
    void tcpClientRelease() override;

    // The 32-byte session key, null when none; cleared when its link ends and before a new
    // connect, so no frame for the next TV is sealed with it. Read it once per frame or file and
    // keep the reference for the whole use.
    SessionKey aesKey() const;
    void setAesKey(SessionKey key);

    const std::shared_ptr<FixedWidthQueue>& processQueue() const { return processQueue_; }

private:
    // The transport's listener (TcpEventCallback); user is the manager.
    static int onTcpEvent(void* user, TcpClient* client, int type, const char* text, const uint8_t* data,
                          uint64_t timeStampUs, uint32_t length);
    // On the transport thread that raised the event: its row of SessionEventTable.
    void handleEvent(int type, std::span<const uint8_t> payload);
    // Closes the link and supersedes a connect under way; the new request's number.
    uint64_t endLink();
    // Session queue: the connect that request started, unless a newer request superseded it.
    void connectLink(uint64_t request, const std::string& host, uint16_t port);
    // SessionControl
    std::optional<uint64_t> linkEnded() override;
    void closeEndedLink(uint64_t generation) override;
    void serverInfoArrived() override;
    void answerClientInfoRequest() override;
    void answerKeyExchange(std::span<const uint8_t> offer) override;
    PointerFilter& pointerFilter() override;
    // Main queue: the wait for the server information ended first.
    void serverInfoOverTime();

    TcpNativeInfo info_;
    const std::shared_ptr<SessionDelegates> delegates_;
    const std::shared_ptr<FixedWidthQueue> processQueue_;
    KeyExchange keyExchange_;
    PointerFilter& pointerFilter_;
    SessionKeyHolder aesKey_;

    // Serialises a connect's last check for a newer request, and its start of the wait for the
    // server information, with endLink.
    std::mutex linkMutex_;
    // Counts connectToHost's and tcpClientRelease's requests: a connect is superseded once the
    // count has moved on.
    std::atomic<uint64_t> connectRequest_{0};
    // Counts the links connectLink opened, on the session queue. Every event of a link is raised
    // after its generation was counted and before the next one is, so a handler reads its own
    // link's generation, and the queued close of an ended link spares a newer one.
    std::atomic<uint64_t> linkGeneration_{0};
    // A link closed at once because a newer request superseded its connect: nobody was told of it,
    // so its end is not reported either (its connectLink closes it).
    std::atomic<uint64_t> supersededLink_{0};
    // The current link's TV has sent its server information.
    std::atomic<bool> serverInfoArrived_{false};

    std::unique_ptr<TcpClient> tcpClient_;
    // Declared last: cancelled and gone before anything its handler uses.
    DispatchTimer connectOverTimer_;
};
