#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TvSim;
struct ReceivedMessage;

// The TV's side of the camera and microphone relay: it enables the relay on each link, and answers
// the client's kMsgCameraOpen (kMsgMicOpen) with that device's error, or with a stream of its data:
// messages of a fixed size at a fixed rate for a fixed time, the bytes a counter-seeded pattern that
// differs from message to message, so a relay that loses, repeats or reorders bytes changes their
// SHA-256. Each device streams once for the life of the feed.
//
// Threads: onLinkUp and onMessage run on the caller's thread (tv-sim's TCP thread); each stream sends
// from a thread of its own. The destructor stops the streams and joins them.
class TvRelayFeed {
public:
    struct Stream {
        size_t messageBytes = 4096;
        double messagesPerSecond = 30;
        std::chrono::milliseconds duration{10'000};
    };
    struct Device {
        // Answer each open with this error value (kMsgCameraError / kMsgMicError) instead of data.
        std::optional<int32_t> error;
        std::optional<Stream> stream;
    };
    struct Options {
        // Send kMsgRoziEnable on with each link.
        bool enable = true;
        Device camera;
        Device mic;
    };
    struct Sent {
        size_t messages = 0;
        size_t bytes = 0;
        std::string sha256;
    };
    // One line when a stream ends: "relay <camera|mic> sent messages=<n> bytes=<b> sha256=<hex>".
    using Report = std::function<void(const std::string& line)>;

    TvRelayFeed(TvSim& tv, Options options, Report report = {});
    // stop().
    ~TvRelayFeed();
    TvRelayFeed(const TvRelayFeed&) = delete;
    TvRelayFeed& operator=(const TvRelayFeed&) = delete;

    // Ends the streams (each reports what it sent) and joins them; nothing starts after it.
    void stop();

    void onLinkUp();
    void onMessage(const ReceivedMessage& message);

    // The pattern's bytes of message `index` of a stream.
    static std::vector<uint8_t> patternMessage(uint64_t index, size_t length);

    // Until the device's stream has ended (all sent); what it sent. nullopt when time ran out.
    std::optional<Sent> waitForSent(bool camera, std::chrono::milliseconds timeout);

private:
    struct Runner {
        std::thread thread;
        std::optional<Sent> sent;
    };

    void open(bool camera);
    void run(bool camera, Stream stream);

    TvSim& tv_;
    const Options options_;
    const Report report_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    Runner camera_;
    Runner mic_;
};
