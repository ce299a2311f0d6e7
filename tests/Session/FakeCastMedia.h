#pragma once

#include "Media/EncoderH264/windowInfo.h"
#include "Session/CastMedia.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Casting's media without a screen or a sound server: each capture records what casting asks of it
// ("video start 1280x720@10 type=0 screen=7", "video stop", "sound start", ...) in one shared log, and
// a test delivers frames through the callback casting set, as the capture threads would. Like the
// real ones, a capture calls its callback no more once StopRecord returned.
class FakeCastMedia {
public:
    // The cast display the fake reports: 2880 x 1620 at the screen's origin, id 7.
    static constexpr CastDisplay kDisplay{7, {0, 0, 2880, 1620}};

    FakeCastMedia() = default;
    FakeCastMedia(const FakeCastMedia&) = delete;
    FakeCastMedia& operator=(const FakeCastMedia&) = delete;

    // Factories bound to this object, which must outlive the controller using them.
    CastMedia media(bool withSound = true)
    {
        CastMedia media;
        media.makeVideoSource = [this] { return std::make_unique<Video>(*this); };
        media.makeSoundSource = [this, withSound]() -> std::unique_ptr<CastSoundSource> {
            if (!withSound)
                return nullptr;
            return std::make_unique<Sound>(*this);
        };
        media.mainDisplay = [] { return std::optional(kDisplay); };
        return media;
    }

    std::vector<std::string> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clearEvents()
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    bool videoRunning() const { return running(video_); }
    bool soundRunning() const { return running(sound_); }

    // One unit through the running capture's callback; false when none runs or it was stopped.
    bool deliverVideo(const std::vector<uint8_t>& bytes) { return deliver(video_, bytes); }
    bool deliverSound(const std::vector<uint8_t>& bytes) { return deliver(sound_, bytes); }

private:
    // The capture a test delivers through: set by StartRecord, cleared by StopRecord. Its mutex is
    // held across each callback, so a stop returns only after the call in flight.
    struct Slot {
        std::mutex mutex;
        void* userData = nullptr;
        MediaDataCallback callback = nullptr;
        bool running = false;
    };

    class Video final : public CastVideoSource {
    public:
        explicit Video(FakeCastMedia& media) : media_(media) {}
        ~Video() override { media_.record("video destroyed"); }
        void setDelegate(RecordManagerToStopScreenDelegate*) override {}
        void SetCallback(void* userData, MediaDataCallback callback) override
        {
            media_.setCallback(media_.video_, userData, callback);
        }
        void StartRecord(double width, double height, int32_t framerate, ScreenType type,
                         const std::shared_ptr<windowInfo>& window, uint32_t screenId) override
        {
            media_.record("video start " + std::to_string(int(width)) + "x" + std::to_string(int(height)) + "@" +
                          std::to_string(framerate) + " type=" + std::to_string(type) +
                          " screen=" + std::to_string(screenId) +
                          (window ? " window=" + std::to_string(window->windowId()) : std::string()));
            media_.setRunning(media_.video_, true);
        }
        void StopRecord() override
        {
            media_.setRunning(media_.video_, false);
            media_.record("video stop");
        }
        void deallocRecord() override { media_.record("video dealloc"); }

    private:
        FakeCastMedia& media_;
    };

    class Sound final : public CastSoundSource {
    public:
        explicit Sound(FakeCastMedia& media) : media_(media) {}
        void StartRecord() override
        {
            media_.record("sound start");
            media_.setRunning(media_.sound_, true);
        }
        void StopRecord() override
        {
            media_.setRunning(media_.sound_, false);
            media_.record("sound stop");
        }
        void SetCallback(void* userData, MediaDataCallback callback) override
        {
            media_.setCallback(media_.sound_, userData, callback);
        }

    private:
        FakeCastMedia& media_;
    };

    void record(const std::string& event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    static void setCallback(Slot& slot, void* userData, MediaDataCallback callback)
    {
        std::lock_guard lock(slot.mutex);
        slot.userData = userData;
        slot.callback = callback;
    }
    static void setRunning(Slot& slot, bool running)
    {
        std::lock_guard lock(slot.mutex);
        slot.running = running;
        if (!running)
            slot.callback = nullptr;
    }
    static bool running(Slot& slot)
    {
        std::lock_guard lock(slot.mutex);
        return slot.running;
    }
    static bool deliver(Slot& slot, const std::vector<uint8_t>& bytes)
    {
        std::lock_guard lock(slot.mutex);
        if (!slot.running || !slot.callback)
            return false;
        slot.callback(slot.userData, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return true;
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    mutable Slot video_;
    mutable Slot sound_;
};
