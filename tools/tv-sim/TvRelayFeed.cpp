#include "tv-sim/TvRelayFeed.h"

#include "Socket/MessageType.h"
#include "tv-sim/PayloadDigest.h"
#include "tv-sim/TvSim.h"

#include <algorithm>
#include <utility>

TvRelayFeed::TvRelayFeed(TvSim& tv, Options options, Report report)
    : tv_(tv), options_(std::move(options)), report_(std::move(report))
{
}

TvRelayFeed::~TvRelayFeed()
{
    stop();
}

void TvRelayFeed::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (Runner* runner : {&camera_, &mic_}) {
        if (runner->thread.joinable())
            runner->thread.join();
    }
}

void TvRelayFeed::onLinkUp()
{
    if (options_.enable)
        tv_.send(kMsgRoziEnable, TvMessages::capability(1));
}

void TvRelayFeed::onMessage(const ReceivedMessage& message)
{
    if (message.type == kMsgCameraOpen)
        open(true);
    else if (message.type == kMsgMicOpen)
        open(false);
}

std::vector<uint8_t> TvRelayFeed::patternMessage(uint64_t index, size_t length)
{
    std::vector<uint8_t> bytes(length);
    // xorshift64 seeded by the index: cheap, and no two messages alike.
    uint64_t state = index * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

void TvRelayFeed::open(bool camera)
{
    const Device& device = camera ? options_.camera : options_.mic;
    if (device.error) {
        tv_.send(camera ? kMsgCameraError : kMsgMicError, TvMessages::int32(*device.error));
        return;
    }
    if (!device.stream)
        return;
    Runner& runner = camera ? camera_ : mic_;
    const std::lock_guard lock(mutex_);
    if (runner.thread.joinable() || stopping_)
        return;
    runner.thread = std::thread([this, camera, stream = *device.stream] { run(camera, stream); });
}

void TvRelayFeed::run(bool camera, Stream stream)
{
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(stream.messagesPerSecond, 0.001)));
    const auto start = Clock::now();
    const auto end = start + stream.duration;
    PayloadDigest digest;
    Sent sent;
    auto next = start;
    for (uint64_t index = 0; next < end; ++index, next += interval) {
        {
            std::unique_lock lock(mutex_);
            if (changed_.wait_until(lock, next, [this] { return stopping_; }))
                break;
        }
        const std::vector<uint8_t> bytes = patternMessage(index, stream.messageBytes);
        // A message the link did not take never reached the client: it counts for nothing.
        if (!tv_.send(camera ? kMsgCameraData : kMsgMicData, bytes))
            continue;
        digest.update(bytes);
        ++sent.messages;
        sent.bytes += bytes.size();
    }
    sent.sha256 = digest.finishHex();
    if (report_) {
        report_(std::string("relay ") + (camera ? "camera" : "mic") + " sent messages=" +
                std::to_string(sent.messages) + " bytes=" + std::to_string(sent.bytes) + " sha256=" + sent.sha256);
    }
    {
        const std::lock_guard lock(mutex_);
        (camera ? camera_ : mic_).sent = std::move(sent);
    }
    changed_.notify_all();
}

std::optional<TvRelayFeed::Sent> TvRelayFeed::waitForSent(bool camera, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    const Runner& runner = camera ? camera_ : mic_;
    if (!changed_.wait_for(lock, timeout, [&] { return runner.sent.has_value(); }))
        return std::nullopt;
    return runner.sent;
}
