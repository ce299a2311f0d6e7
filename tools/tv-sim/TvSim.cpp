#include "tv-sim/TvSim.h"

#include "Socket/HeartbeatPayload.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Utils/Log.h"
#include "tv-sim/PayloadDigest.h"
#include "tv-sim/WallClock.h"

#include <algorithm>
#include <memory>
#include <utility>

TvSim::TvSim() : TvSim(Options{}) {}

TvSim::TvSim(Options options)
    : options_(std::move(options)),
      status_(options_.status),
      link_({.onMessage = [this](const TransportFrameHeader& header,
                                 std::span<const uint8_t> payload) { onTcpMessage(header, payload); },
             .onUp = [this](const std::string& peer) { onLinkUp(peer); },
             .onDown = [this] { onLinkDown(); }}),
      udp_([this](const TransportFrameHeader& header, std::span<const uint8_t> payload) {
          onUdpMessage(header, payload);
      }),
      heartbeat_([this] { beat(); }),
      decoder_([this](const DecodedFrame& frame) {
          if (decodeObserver_)
              decodeObserver_(frame);
      }),
      cast_(options_.qualityLevel),
      view_([this](uint16_t type, std::span<const uint8_t> payload) { return send(type, payload); },
            options_.screen, options_.viewRefusal)
{
}

TvSim::~TvSim()
{
    stop();
}

void TvSim::setFetchObserver(TvFileFetcher::Observer observer)
{
    fetchObserver_ = std::move(observer);
}

std::vector<TvSim::FetchedFile> TvSim::fetchedFiles() const
{
    return fetcher_ ? fetcher_->fetched() : std::vector<FetchedFile>{};
}

bool TvSim::waitForFetchedFiles(size_t count, Timeout timeout)
{
    return fetcher_ && fetcher_->waitForFetched(count, timeout);
}

bool TvSim::start()
{
    if (started_)
        return false;
    if (options_.fetchPushedFiles)
        fetcher_ = std::make_unique<TvFileFetcher>([this] { send(kMsgFilePushAck); }, fetchObserver_);
    // The key pair is made before the first client can arrive, so the greeting never waits for it.
    if (options_.encryption && !keyExchange_.prepare())
        return false;
    if (options_.decodeVideo && !decoder_.start())
        return false;
    if (options_.discoveryPort) {
        discovery_ = DiscoveryResponder::start(
            {.address = options_.address,
             .port = *options_.discoveryPort,
             .tvs = {{.name = options_.name, .macAddr = options_.macAddr, .screenCode = options_.castingCode}}});
        if (!discovery_)
            return false;
    }
    const auto address = SimAddress::parse(options_.address, options_.port);
    if (!address || !link_.listen(*address))
        return false;
    started_ = true;
    heartbeat_.start(options_.heartbeatInterval);
    return true;
}

void TvSim::stop()
{
    // The link first: its shutdown frees a beat blocked on a peer that stopped reading.
    link_.stop();
    heartbeat_.stop();
    udp_.stop();
    if (discovery_)
        discovery_->stop();
    // After the link, whose shutdown frees a frame blocked on a peer that stopped reading.
    view_.shutdown();
    // Last: the readers that feed it have stopped.
    decoder_.stop();
}

uint16_t TvSim::port() const
{
    return link_.port();
}

void TvSim::setMessageObserver(MessageObserver observer)
{
    messageObserver_ = std::move(observer);
}

void TvSim::setLinkObserver(LinkObserver observer)
{
    linkObserver_ = std::move(observer);
}

void TvSim::setKeyExchangeObserver(KeyExchangeObserver observer)
{
    keyExchangeObserver_ = std::move(observer);
}

void TvSim::setDecodeObserver(DecodeObserver observer)
{
    decodeObserver_ = std::move(observer);
}

bool TvSim::connected() const
{
    return log_.connected();
}

std::string TvSim::peer() const
{
    return log_.peer();
}

size_t TvSim::linksAccepted() const
{
    return log_.linksAccepted();
}

bool TvSim::waitForConnection(Timeout timeout, size_t links)
{
    return log_.waitForLink(links, timeout);
}

bool TvSim::waitForDisconnect(Timeout timeout)
{
    return log_.waitForNoLink(timeout);
}

void TvSim::closeLink()
{
    link_.close();
}

void TvSim::setReading(bool reading)
{
    link_.setReading(reading);
}

void TvSim::setHeartbeatInterval(Timeout interval)
{
    heartbeat_.setInterval(interval);
}

void TvSim::setStatus(uint8_t status)
{
    status_ = status;
}

bool TvSim::send(uint16_t type, std::span<const uint8_t> payload)
{
    return link_.send(type, payload);
}

bool TvSim::sendRaw(std::span<const uint8_t> bytes)
{
    return link_.sendRaw(bytes);
}

std::optional<uint32_t> TvSim::sendEchoRequest()
{
    // Ids count from 1: an id of 0 would make the answer's echo word read as a request.
    const uint32_t id = ++echoId_;
    const uint64_t now = wallMicros();
    if (!send(kMsgNetworkEcho, NetworkEchoPayload{.id = id, .echo = 0, .timeA = now, .timeB = now}.encode()))
        return std::nullopt;
    return id;
}

void TvSim::setAnswerServerInfo(bool answer)
{
    answerServerInfo_ = answer;
}

bool TvSim::sendServerInfo()
{
    return send(kMsgServerInfo, ServerInfoRecord{options_.name}.encode());
}

bool TvSim::sendScreenCode(const std::string& code)
{
    return send(kMsgScreenCode, TvMessages::text(code));
}

std::optional<ClientInfoRecord> TvSim::clientInfo() const
{
    std::lock_guard lock(clientInfoMutex_);
    return clientInfo_;
}

bool TvSim::offerKeyExchange(bool encrypted)
{
    const auto offer = keyExchange_.offer(encrypted);
    return offer && send(kMsgKeyExchangeOffer, *offer);
}

bool TvSim::sendClientList(const std::string& jsonText)
{
    return send(kMsgClientList, TvMessages::text(jsonText));
}

void TvSim::setQualityLevel(std::optional<int32_t> level)
{
    cast_.setQualityLevel(level);
}

std::optional<CastVideoFormatPayload> TvSim::lastCastFormat() const
{
    return cast_.lastFormat();
}

std::optional<TvSim::MediaCount> TvSim::mediaAfterCastStop() const
{
    const uint16_t media[] = {kMsgVideoFrame, kMsgAudioFrame};
    const auto counts = log_.countsAfterLast(kMsgCastStop, media);
    if (!counts)
        return std::nullopt;
    return MediaCount{.video = (*counts)[0], .audio = (*counts)[1]};
}

std::vector<uint8_t> TvSim::audioStream() const
{
    return log_.joinedPayloads(kMsgAudioFrame);
}

bool TvSim::requestCast()
{
    return send(kMsgTvRequestCast);
}

bool TvSim::interruptCast()
{
    return send(kMsgTvInterruptCast);
}

bool TvSim::lockCast()
{
    return send(kMsgMirrorLocked);
}

uint16_t TvSim::discoveryPort() const
{
    return discovery_ ? discovery_->port() : 0;
}

std::vector<ReceivedMessage> TvSim::received() const
{
    return log_.messages();
}

std::vector<ReceivedMessage> TvSim::received(uint16_t type) const
{
    auto messages = log_.messages();
    std::erase_if(messages, [type](const ReceivedMessage& message) { return message.type != type; });
    return messages;
}

size_t TvSim::receivedCount() const
{
    return log_.count();
}

size_t TvSim::receivedCount(uint16_t type) const
{
    return log_.countOfType(type);
}

void TvSim::clearReceived()
{
    log_.clear();
    view_.clearInput();
}

bool TvSim::waitForMessages(size_t count, Timeout timeout)
{
    return log_.waitForCount(count, timeout);
}

bool TvSim::waitForMessagesOfType(uint16_t type, size_t count, Timeout timeout)
{
    return log_.waitForCountOfType(type, count, timeout);
}

std::optional<ReceivedMessage> TvSim::waitForMessage(uint16_t type, Timeout timeout)
{
    std::optional<ReceivedMessage> found;
    log_.waitUntil(
        [&](const auto& messages) {
            const auto match = std::find_if(messages.begin(), messages.end(),
                                            [type](const auto& message) { return message.type == type; });
            if (match == messages.end())
                return false;
            found = *match;
            return true;
        },
        timeout);
    return found;
}

bool TvSim::waitUntil(const std::function<bool(const std::vector<ReceivedMessage>&)>& done, Timeout timeout)
{
    return log_.waitUntil(done, timeout);
}

bool TvSim::openUdpChannel(uint32_t routeMask, uint32_t fragmentSize)
{
    const auto address = SimAddress::parse(options_.address, 0);
    if (!address || !udp_.open(*address, fragmentSize))
        return false;
    const UdpChannelOpenPayload open{.port = udp_.port(), .fragmentSize = fragmentSize, .routeMask = routeMask};
    return send(kMsgUdpChannelOpen, open.encode());
}

bool TvSim::requestFragments(uint32_t streamType, uint32_t messageId, std::span<const uint32_t> bitmap)
{
    const UdpResendFragmentsPayload request{
        .streamType = streamType, .messageId = messageId, .bitmap = {bitmap.begin(), bitmap.end()}};
    return send(kMsgUdpResendFragments, request.encode());
}

bool TvSim::requestRange(uint32_t streamType, uint32_t first, uint32_t end, uint32_t flags)
{
    const UdpResendRangePayload request{.streamType = streamType, .firstId = first, .endId = end, .flags = flags};
    return send(kMsgUdpResendRange, request.encode());
}

void TvSim::onTcpMessage(const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    answerLinkLevel(header.type, payload);
    answerSession(header.type, payload);
    answerCast(header.type, payload);
    answerView(header.type, payload);
    record(ReceivedMessage::Road::Tcp, header, payload);
}

void TvSim::onUdpMessage(const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    answerCast(header.type, payload);
    answerView(header.type, payload);
    record(ReceivedMessage::Road::Udp, header, payload);
}

void TvSim::onLinkUp(const std::string& peer)
{
    // A new session: no greeting yet, no key.
    greeted_ = false;
    keyExchange_.reset();
    cast_.linkUp();
    log_.linkUp(peer);
    if (linkObserver_)
        linkObserver_(true, peer);
}

void TvSim::onLinkDown()
{
    view_.onLinkDown();
    log_.linkDown();
    if (linkObserver_)
        linkObserver_(false, {});
}

void TvSim::beat()
{
    link_.sendHeartbeatRequest();
}

// Answers go out before the request is recorded, so a test that saw the request may expect the answer.
void TvSim::answerLinkLevel(uint16_t type, std::span<const uint8_t> payload)
{
    if (type == kMsgHeartbeat) {
        const auto beat = HeartbeatPayload::decode(payload);
        if (beat.isRequest())
            send(kMsgHeartbeat, beat.answer(status_).encode());
    } else if (type == kMsgNetworkEcho) {
        const auto echo = NetworkEchoPayload::decode(payload);
        if (!echo)
            PLOG("tv-sim: dropping a %zu-byte network echo: shorter than its record", payload.size());
        else if (echo->isRequest())
            send(kMsgNetworkEcho, echo->answer().encode());
    }
}

// Like the link-level answers, these run before the message is recorded: a test that saw the
// client's message may expect the answer and the state it leaves.
void TvSim::answerSession(uint16_t type, std::span<const uint8_t> payload)
{
    std::optional<KeyExchangeOutcome> outcome;
    if (type == kMsgClientInfo) {
        auto info = ClientInfoRecord::decode(payload);
        if (!info)
            PLOG("tv-sim: a %zu-byte client information is too short to read", payload.size());
        {
            std::lock_guard lock(clientInfoMutex_);
            clientInfo_ = std::move(info);
        }
        if (!greeted_ && answerServerInfo_)
            greet();
    } else if (type == kMsgSessionKey) {
        outcome = keyExchange_.onSessionKey(payload);
    } else if (type == kMsgNoEncryption) {
        outcome = keyExchange_.onNoEncryption();
    } else if (type == kMsgFilePush && fetcher_) {
        fetcher_->onFilePush(payload, keyExchange_.sessionKey());
    }
    if (outcome && keyExchangeObserver_)
        keyExchangeObserver_(*outcome);
}

void TvSim::answerCast(uint16_t type, std::span<const uint8_t> payload)
{
    if (type == kMsgCastStop) {
        cast_.onCastStop();
    } else if (type == kMsgCastVideoFormat) {
        if (const auto answer = cast_.onCastVideoFormat(payload))
            send(kMsgVideoQuality, answer->encode());
    }
}

void TvSim::greet()
{
    greeted_ = true;
    sendServerInfo();
    sendScreenCode(options_.castingCode);
    if (options_.qualityChange)
        send(kMsgQualityChangeSupport, TvMessages::capability(1));
    if (options_.encryption)
        offerKeyExchange(true);
    if (options_.inviteToView)
        inviteToView();
}

void TvSim::answerView(uint16_t type, std::span<const uint8_t> payload)
{
    view_.onMessage(type, payload);
}

bool TvSim::inviteToView()
{
    return send(kMsgReverseInvite);
}

void TvSim::record(ReceivedMessage::Road road, const TransportFrameHeader& header, std::span<const uint8_t> payload)
{
    ReceivedMessage message{.road = road,
                            .sequence = header.sequence,
                            .type = header.type,
                            .length = static_cast<uint32_t>(payload.size()),
                            .timeStamp = header.timeStamp,
                            .sha256 = options_.digestPayloads ? PayloadDigest::sha256Hex(payload) : std::string(),
                            .arrivalMicros = wallMicros(),
                            .arrival = std::chrono::steady_clock::now(),
                            .payload = {},
                            .plainSha256 = {}};
    if (header.type == kMsgVideoFrame) {
        // One decryption serves the digest and the decoder.
        auto plain = keyExchange_.open(payload);
        if (plain && options_.digestPayloads)
            message.plainSha256 = PayloadDigest::sha256Hex(*plain);
        if (options_.decodeVideo)
            decoder_.submit(plain ? std::move(*plain) : std::vector<uint8_t>(payload.begin(), payload.end()),
                            header.timeStamp);
    }
    if (options_.keepPayloads)
        message.payload.assign(payload.begin(), payload.end());
    if (messageObserver_)
        messageObserver_(message);
    log_.add(std::move(message));
}
