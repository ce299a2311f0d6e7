#pragma once

#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderH264/RecordManagerToStopScreenDelegate.h"
#include "Media/EncoderH264/SelectedWindowFrame.h"
#include "Media/EncoderH264/windowInfo.h"

#include "Media/CastLinkFakes.h"
#include "Media/EncoderTestSupport.h"
#include "Platform/X11Fixture.h"

#include <condition_variable>
#include <functional>
#include <mutex>

// The casts' size and frame rate.
inline constexpr int kCastWidth = 1280;
inline constexpr int kCastHeight = 720;
inline constexpr int kFps = 10;

// Keeps every unit a RecordManager hands over and counts its stop requests and capture failures, from
// any thread.
class CastObserver : public RecordManagerToStopScreenDelegate, public CaptureFailureReport {
public:
    static int32_t callback(void* user, const uint8_t* bytes, uint32_t length)
    {
        auto* self = static_cast<CastObserver*>(user);
        const size_t index = self->count();
        // Outside the lock: the reaction may stop the cast, which waits for no one but the tick it runs in.
        const int32_t result = self->onUnit ? self->onUnit(index) : 0;
        std::lock_guard lock(self->mutex_);
        self->units_.emplace_back(bytes, bytes + length);
        self->changed_.notify_all();
        return result;
    }
    void stopScreenFunction() override
    {
        if (onStop)
            onStop();
        std::lock_guard lock(mutex_);
        ++stops_;
        changed_.notify_all();
    }
    void captureFailed() override
    {
        std::lock_guard lock(mutex_);
        ++failures_;
        changed_.notify_all();
    }

    // Reactions on the capture queue, set before the cast starts: to unit number `index` (from 0,
    // kept once the reaction returns; its result is the callback's), and to a stop request.
    std::function<int32_t(size_t index)> onUnit;
    std::function<void()> onStop;

    // False when the units or the stop never came (the limit only stops a broken build from hanging).
    bool waitForUnits(size_t count) { return waitUntil([&] { return units_.size() >= count; }); }
    bool waitForStop() { return waitUntil([&] { return stops_ > 0; }); }
    bool waitForFailure() { return waitUntil([&] { return failures_ > 0; }); }
    size_t count() const { return units().size(); }
    std::vector<Bytes> units() const
    {
        std::lock_guard lock(mutex_);
        return units_;
    }
    int stops() const
    {
        std::lock_guard lock(mutex_);
        return stops_;
    }
    int failures() const
    {
        std::lock_guard lock(mutex_);
        return failures_;
    }

private:
    template <class Predicate> bool waitUntil(Predicate done)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), done);
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> units_;
    int stops_ = 0;
    int failures_ = 0;
};

// Casts from the suite's private Xvfb into a CastObserver.
class RecordManagerCaptureFixture : public X11Fixture {
protected:
    // A named window with coloured bands, where the window picker would have seen it.
    std::shared_ptr<windowInfo> showPatternWindow()
    {
        const Window window = showWindow(100, 100, 640, 400, 0x3366cc);
        for (int band = 0; band < 8; ++band)
            fill(window, band * 80, 0, 40, 400, 0xffffff - static_cast<uint32_t>(band) * 0x1f2f3f);
        XStoreName(client, window, "RecordManager pattern window");
        XSync(client, False);
        const Rect frame{100, 100, 640, 400};
        gSelectedWindowFrame.store(frame);
        return std::make_shared<windowInfo>(static_cast<int32_t>(window), "RecordManager pattern window", frame, 0.0);
    }

    // A cast of the X display displayName (the suite's own when empty), protected by sessionKey when
    // one is given.
    std::unique_ptr<RecordManager> makeManager(SessionKey sessionKey = nullptr, std::string displayName = {})
    {
        RecordManager::Link link{std::make_shared<FixedSessionKey>(std::move(sessionKey)), observed, nullptr};
        auto manager = std::make_unique<RecordManager>(std::move(link),
                                                       displayName.empty() ? server->name() : std::move(displayName));
        manager->setDelegate(&observer);
        manager->SetCallback(&observer, &CastObserver::callback);
        return manager;
    }

    void TearDown() override
    {
        gSelectedWindowFrame.store({});
        X11Fixture::TearDown();
    }

    // Shared with the managers, which report their capture failures to it.
    const std::shared_ptr<CastObserver> observed = std::make_shared<CastObserver>();
    CastObserver& observer = *observed;
};
