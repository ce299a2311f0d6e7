#pragma once

#include "tv-sim/SimTimeout.h"
#include "tv-sim/ScreenStreamer.h"
#include "tv-sim/TvInputEvent.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The TV's side of a client viewing its screen. kMsgTvScreenStart is answered with
// kMsgTvScreenResolution (the screen's width and height), then the screen streams as kMsgVideoFrame
// (ScreenStreamer) until the client's kMsgTvScreenStop, the TV's own stop or the end of the link. A
// TV set to refuse answers the start with kMsgTvScreenFail and its reason instead. The client's
// kMsgViewSize and its input (TvInputEvent) are decoded and kept.
//
// Fed from the link's receiving threads (TCP and UDP); readers and waiters on any thread. Each event
// also goes to the observer as a report line, on the thread that caused it.
class TvScreenView {
public:
    using Screen = ScreenStreamer::Screen;
    using Timeout = std::chrono::milliseconds;
    using SendMessage = std::function<bool(uint16_t type, std::span<const uint8_t> payload)>;
    using Observer = std::function<void(const std::string& reportLine)>;
    struct Size {
        int32_t width = 0;
        int32_t height = 0;
        bool operator==(const Size&) const = default;
    };

    TvScreenView(SendMessage send, const Screen& screen, std::optional<int32_t> refusal);
    ~TvScreenView();
    TvScreenView(const TvScreenView&) = delete;
    TvScreenView& operator=(const TvScreenView&) = delete;

    // Before the link comes up.
    void setObserver(Observer observer);
    // The screen of the next start; false (nothing changes) when the streamer cannot take it.
    bool setScreen(const Screen& screen);
    Screen screen() const;
    // The reason of kMsgTvScreenFail for the next starts; nullopt: viewing is granted.
    void setRefusal(std::optional<int32_t> reason);

    // A message received on the link; acts on the viewing and input types only.
    void onMessage(uint16_t type, std::span<const uint8_t> payload);
    void onLinkDown();
    // The TV stops the viewing: kMsgTvScreenStop to the client and the stream ends. False when none ran.
    bool stopViewing();
    // Ends any stream and joins the streaming thread.
    void shutdown();

    bool viewing() const;
    // Frames of the running stream, or of the last one.
    uint64_t framesStreamed() const;
    // The last kMsgViewSize received; nullopt before any.
    std::optional<Size> viewSize() const;

    std::vector<TvInputEvent> inputEvents() const;
    void clearInput();
    // Until at least count input events are kept.
    bool waitForInput(size_t count, Timeout timeout = kSimDefaultTimeout) const;

private:
    void start();
    // Ends the stream and reports who ended it; false when none ran.
    bool end(const char* by);
    void report(const std::string& line) const;

    const SendMessage send_;
    ScreenStreamer streamer_;
    Observer observer_;
    mutable std::mutex mutex_;
    mutable std::condition_variable inputAdded_;
    Screen screen_;
    std::optional<int32_t> refusal_;
    std::optional<Size> viewSize_;
    std::vector<TvInputEvent> input_;
};
