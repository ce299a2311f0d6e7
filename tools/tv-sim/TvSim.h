#pragma once

#include "Socket/ClientInfoRecord.h"
#include "Socket/TransportFrameHeader.h"
#include "tv-sim/DiscoveryResponder.h"
#include "tv-sim/IntervalTimer.h"
#include "tv-sim/ReceivedLog.h"
#include "tv-sim/ReceivedMessage.h"
#include "tv-sim/SimTimeout.h"
#include "tv-sim/TvCast.h"
#include "tv-sim/TvFileFetcher.h"
#include "tv-sim/TvKeyExchange.h"
#include "tv-sim/TvLink.h"
#include "tv-sim/TvMessages.h"
#include "tv-sim/TvScreenView.h"
#include "tv-sim/UdpReceiver.h"
#include "tv-sim/VideoDecoder.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The TV end of the link, for tests and benchmarks: listens on a chosen address, takes one link at a
// time (a new one replaces the old), records every message it receives on TCP or on the UDP side
// channel it opened, beats and answers the link-level messages (heartbeat, network echo) as a TV
// does, greets a client (server information, casting code, optionally a key exchange offer), and
// sends whatever a test asks, well-formed or raw. It can also answer discovery as this TV.
//
// It answers the first kMsgCastVideoFormat of each cast with the quality level it is set to, and
// tells what a test of a cast wants to see: the announced format, the media that came after a
// kMsgCastStop, the sound as one ADTS stream.
//
// With decodeVideo it also decodes the video stream it receives, on a thread of its own, and records
// each picture with its latency.
//
// A client that views the TV's screen gets its resolution and a moving test pattern as H.264, and
// its touches, scrolls, keys and annotation commands are decoded and kept (TvScreenView).
//
// Threads: one reads the TCP link, one reads the UDP socket, one beats, one answers discovery, one
// decodes video, one fetches pushed files (TvFileFetcher), one streams the screen (ScreenStreamer).
// Every public method may be called from any thread, except the observer setters (before start()).
// stop() and the destructor join them all. Waiting helpers wait on a condition with a real-time
// limit and never sleep blindly.
class TvSim {
public:
    using Timeout = SimTimeout;
    static constexpr Timeout kDefaultTimeout = kSimDefaultTimeout;

    struct Options {
        // Numeric IPv4 or IPv6 address to listen on; the UDP side channel binds the same address.
        std::string address = "127.0.0.1";
        // 0: the kernel picks; port() tells.
        uint16_t port = 0;
        // Interval of the peer's own heartbeat requests {16, n, 0, 0}, n counting from 1 on each link.
        // 0 sends none; with setReading(false) as well the peer answers nothing either.
        Timeout heartbeatInterval{1'000};
        // The status byte of heartbeat answers (bit 0 asks the client to send kMsgClientInfo again).
        uint8_t status = 0;
        // Keep each received payload in its record (switch off for long benchmark runs).
        bool keepPayloads = true;
        // Record the SHA-256 of each received payload (and of each decrypted frame); switch off
        // where hashing would cost more than the link it measures.
        bool digestPayloads = true;
        // The TV's display name: in kMsgServerInfo and in discovery replies.
        std::string name = "tv-sim";
        // The casting code sent as kMsgScreenCode after the server information and in discovery
        // replies; empty: no code is needed.
        std::string castingCode{};
        // Encrypted sessions: after the greeting's kMsgScreenCode, offer this TV's RSA-2048 public
        // key (made once in start(), reused for every offer and link).
        bool encryption = false;
        // Answer discovery requests on this UDP port of the listen address (0: the kernel picks,
        // see discoveryPort()); nullopt: no discovery.
        std::optional<uint16_t> discoveryPort{};
        // The MAC address text of discovery replies.
        std::string macAddr = "02:00:00:00:00:01";
        // Decode every received kMsgVideoFrame (opened with the session key while one is agreed) as
        // an H.264 access unit; off by default, since decoding costs a core at high resolutions.
        bool decodeVideo = false;
        // The quality level of the kMsgVideoQuality that answers each cast's first
        // kMsgCastVideoFormat, with the level's size and frame rate (TvCast::answerFor); nullopt:
        // the TV never answers.
        std::optional<int32_t> qualityLevel{};
        // Tell each client after the greeting that this TV takes quality changes during a cast
        // (kMsgQualityChangeSupport on).
        bool qualityChange = false;
        // Fetch each file a kMsgFilePush announces (see TvFileFetcher), acknowledging it with
        // kMsgFilePushAck.
        bool fetchPushedFiles = true;
        // The TV's own screen, streamed to a client that views it (see TvScreenView).
        ScreenStreamer::Screen screen{};
        // Answer each start of viewing with kMsgTvScreenFail and this reason instead; nullopt: grant it.
        std::optional<int32_t> viewRefusal{};
        // Invite each client after the greeting to view this TV's screen (kMsgReverseInvite).
        bool inviteToView = false;
    };

    using KeyExchangeOutcome = TvKeyExchange::Outcome;

    // Called on the thread that received the message (TCP or UDP), just before it is recorded, so a
    // waiter that sees the message knows the observer has run. It may call send() and the other
    // methods, but not stop() nor a waiting helper.
    using MessageObserver = std::function<void(const ReceivedMessage&)>;
    // Called on the TCP thread when a link comes up (peer "addr:port") or goes down (peer empty).
    using LinkObserver = std::function<void(bool up, const std::string& peer)>;
    // Called on the TCP thread when the client's answer to a key exchange offer settles the outcome
    // (Agreed, Declined or Failed).
    using KeyExchangeObserver = std::function<void(KeyExchangeOutcome outcome)>;
    using DecodedFrame = VideoDecoder::DecodedFrame;
    // Called on the decoding thread for each decoded picture, just before it is recorded.
    using DecodeObserver = VideoDecoder::Observer;
    using DropFilter = UdpReceiver::DropFilter;
    using UdpStats = UdpReceiver::Stats;

    TvSim();
    explicit TvSim(Options options);
    ~TvSim();
    TvSim(const TvSim&) = delete;
    TvSim& operator=(const TvSim&) = delete;

    // Binds and listens, starts the threads (and the discovery responder; with encryption, makes the
    // key pair first; with decodeVideo, opens the decoder). False (logged) when the address is not
    // numeric, a port cannot be bound, no key pair can be made or no H.264 decoder opens. Call once.
    bool start();
    // Closes the link and the sockets and joins every thread. Idempotent.
    void stop();

    const std::string& address() const { return options_.address; }
    uint16_t port() const;

    void setMessageObserver(MessageObserver observer);
    void setLinkObserver(LinkObserver observer);
    void setKeyExchangeObserver(KeyExchangeObserver observer);
    void setDecodeObserver(DecodeObserver observer);

    // --- The link.
    bool connected() const;
    // "addr:port" of the current link's peer, empty when none.
    std::string peer() const;
    // Links accepted since start().
    size_t linksAccepted() const;
    // Until a link is up and at least `links` links have been accepted since start().
    bool waitForConnection(Timeout timeout = kDefaultTimeout, size_t links = 1);
    // Until a link has been up and none is up now.
    bool waitForDisconnect(Timeout timeout = kDefaultTimeout);
    // Closes the current link (the peer sees an orderly close).
    void closeLink();
    // false: stop reading the socket (a peer that never reads fills the client's send buffer, and
    // answers nothing); once it returns nothing more is read, though a hang-up still ends the link.
    // true: read again.
    void setReading(bool reading);

    // --- Link-level behaviour.
    void setHeartbeatInterval(Timeout interval);
    void setStatus(uint8_t status);

    // --- Sending on the current link. False when there is none or the write failed.
    // One message cut into 65,536-byte fragments, with this link's next sequence number.
    bool send(uint16_t type, std::span<const uint8_t> payload = {});
    // Bytes as they stand, for malformed input.
    bool sendRaw(std::span<const uint8_t> bytes);
    // A kMsgNetworkEcho request stamped with the current time; its id, nullopt when not sent.
    std::optional<uint32_t> sendEchoRequest();

    // --- The greeting. The first kMsgClientInfo of each link is answered with kMsgServerInfo
    // (sendServerInfo), then kMsgScreenCode with the casting code, then, with the encryption
    // option, a key exchange offer. Later kMsgClientInfo (a re-send or a rename) are only recorded.
    // false: greet no client (a TV that never answers, for the connect time-out); true: greet again.
    void setAnswerServerInfo(bool answer);
    // kMsgServerInfo: a 104-byte ServerInfoRecord with the name at offset 40, by hand (say late).
    bool sendServerInfo();
    // kMsgScreenCode with the text (no terminator); empty: no code is needed.
    bool sendScreenCode(const std::string& code);
    // kMsgClientList with the text (TvMessages builds the payloads of the TV's other messages).
    bool sendClientList(const std::string& jsonText);
    // The latest kMsgClientInfo received since start() (any link); nullopt when none arrived or
    // the last one was too short to read.
    std::optional<ClientInfoRecord> clientInfo() const;

    // --- Key exchange. Each link starts with no session key and the outcome None.
    // kMsgKeyExchangeOffer: encrypted {status 1 big-endian, PKCS#1 DER public key}, else {status 0}.
    // Resets the outcome to None, so the next wait sees the answer to this offer.
    bool offerKeyExchange(bool encrypted);
    // The outcome and the agreed key: Agreed, the client's kMsgSessionKey unwrapped to 32 bytes
    // (kept as the session key); Declined: kMsgNoEncryption (clears the key); Failed: a
    // kMsgSessionKey that is empty, does not unwrap to 32 bytes or comes before any encrypted offer
    // (clears the key); None: no answer yet. While there is a key, every received kMsgVideoFrame is
    // opened as an EncryptedFrame and its record carries plainSha256.
    const TvKeyExchange& keyExchange() const { return keyExchange_; }


    // --- Casts (see TvCast).
    void setQualityLevel(std::optional<int32_t> level);
    // The last kMsgCastVideoFormat received since start(); nullopt before any.
    std::optional<CastVideoFormatPayload> lastCastFormat() const;
    struct MediaCount {
        size_t video = 0;
        size_t audio = 0;
        bool operator==(const MediaCount&) const = default;
    };
    // The kMsgVideoFrame and kMsgAudioFrame recorded after the last recorded kMsgCastStop (both
    // roads, in order of recording); nullopt when none is recorded. {0, 0} after a clean stop.
    std::optional<MediaCount> mediaAfterCastStop() const;
    // The kept payloads of every recorded kMsgAudioFrame, one after the other: an ADTS stream.
    std::vector<uint8_t> audioStream() const;
    // The TV's requests: kMsgTvRequestCast, kMsgTvInterruptCast, kMsgMirrorLocked.
    bool requestCast();
    bool interruptCast();
    bool lockCast();

    // --- Viewing the TV's screen (see TvScreenView).
    using Screen = ScreenStreamer::Screen;
    using ViewSize = TvScreenView::Size;
    // The viewing part: its observer, screen, refusal, stop, stream and the input received since
    // start() or the last clearReceived().
    TvScreenView& view() { return view_; }
    const TvScreenView& view() const { return view_; }
    bool inviteToView();

    // --- Pushed files (with the fetchPushedFiles option), in the order they were fetched.
    using FetchedFile = TvFileFetcher::Fetched;
    // Called on the fetching thread for each pushed file, fetched or not, before it is recorded.
    void setFetchObserver(TvFileFetcher::Observer observer);
    std::vector<FetchedFile> fetchedFiles() const;
    bool waitForFetchedFiles(size_t count, Timeout timeout = kDefaultTimeout);

    // --- Discovery. The UDP port answering discovery requests; 0 when the option is off.
    uint16_t discoveryPort() const;

    // --- What arrived (since start() or the last clearReceived()), in order of arrival.
    std::vector<ReceivedMessage> received() const;
    std::vector<ReceivedMessage> received(uint16_t type) const;
    size_t receivedCount() const;
    size_t receivedCount(uint16_t type) const;
    void clearReceived();
    bool waitForMessages(size_t count, Timeout timeout = kDefaultTimeout);
    bool waitForMessagesOfType(uint16_t type, size_t count, Timeout timeout = kDefaultTimeout);
    // The first recorded message of the type, once there is one.
    std::optional<ReceivedMessage> waitForMessage(uint16_t type, Timeout timeout = kDefaultTimeout);
    // Until done(records) is true. done runs under the record lock: it must not call this object.
    bool waitUntil(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                   Timeout timeout = kDefaultTimeout);

    // --- Decoded video (with the decodeVideo option), in decoding order. Every kMsgVideoFrame
    // received since start() (TCP or UDP) is one access unit; DecodedFrame::index counts them from
    // 0, so a unit that does not decode leaves a gap.
    // A unit refused by the decoder, giving no picture or a corrupt one, or dropped because the
    // decoder fell too far behind counts as an error.
    const VideoDecoder& decoder() const { return decoder_; }

    // --- The UDP side channel.
    // Binds a UDP socket on the listen address (once; the port stays for the life of this object)
    // and sends kMsgUdpChannelOpen {16, port, fragmentSize, routeMask}. Reassembly uses the fragment
    // size of the first call, as the client keeps the first channel. False when the socket cannot be
    // bound, the size is not 1 to 262,144, or the message could not be sent.
    bool openUdpChannel(uint32_t routeMask, uint32_t fragmentSize);
    // The receiver: its port (0 until openUdpChannel bound the socket), statistics, and the filter
    // whose datagrams are dropped before reassembly.
    UdpReceiver& udp() { return udp_; }
    const UdpReceiver& udp() const { return udp_; }
    // kMsgUdpResendFragments {size, streamType, messageId, bitmap words...}; bit i of word i / 32
    // asks for fragment i.
    bool requestFragments(uint32_t streamType, uint32_t messageId, std::span<const uint32_t> bitmap);
    // kMsgUdpResendRange {20, streamType, first, end, flags}.
    bool requestRange(uint32_t streamType, uint32_t first, uint32_t end, uint32_t flags);

private:
    // On the TCP thread.
    void onTcpMessage(const TransportFrameHeader& header, std::span<const uint8_t> payload);
    void onLinkUp(const std::string& peer);
    void onLinkDown();
    // On the UDP thread.
    void onUdpMessage(const TransportFrameHeader& header, std::span<const uint8_t> payload);
    // On the heartbeat thread.
    void beat();

    void record(ReceivedMessage::Road road, const TransportFrameHeader& header, std::span<const uint8_t> payload);
    void answerLinkLevel(uint16_t type, std::span<const uint8_t> payload);
    // The session messages a TV acts on (client information, the key exchange answers); TCP thread.
    void answerSession(uint16_t type, std::span<const uint8_t> payload);
    // The cast messages, on whichever road they came (TCP or UDP thread).
    void answerCast(uint16_t type, std::span<const uint8_t> payload);
    // The viewing messages and input, on whichever road they came.
    void answerView(uint16_t type, std::span<const uint8_t> payload);
    void greet();

    Options options_;
    MessageObserver messageObserver_;
    LinkObserver linkObserver_;
    KeyExchangeObserver keyExchangeObserver_;
    DecodeObserver decodeObserver_;
    std::atomic<uint8_t> status_;
    std::atomic<uint32_t> echoId_{0};
    ReceivedLog log_;
    TvLink link_;
    UdpReceiver udp_;
    IntervalTimer heartbeat_;
    TvKeyExchange keyExchange_;
    VideoDecoder decoder_;
    TvCast cast_;
    TvScreenView view_;
    std::unique_ptr<DiscoveryResponder> discovery_;
    TvFileFetcher::Observer fetchObserver_;
    std::unique_ptr<TvFileFetcher> fetcher_;  // null without the fetchPushedFiles option
    std::atomic<bool> answerServerInfo_{true};
    // Whether the current link's client has been greeted; TCP thread only.
    bool greeted_ = false;
    mutable std::mutex clientInfoMutex_;
    std::optional<ClientInfoRecord> clientInfo_;
    bool started_ = false;
};
