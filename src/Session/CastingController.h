#pragma once

#include "Platform/DispatchTimer.h"
#include "Session/CastMedia.h"
#include "Session/CastState.h"
#include "Session/CastQuality.h"
#include "Platform/MainQueueGuard.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "UI/SoundSwitchStateDelegate.h"
#include "UI/UserChangeVideoQualityDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class MainWindowController;
class TCPManager;

// Casting the whole screen: the casting-code check, the exchange that fixes the cast's size with the
// TV, capture and sound, the media callbacks, stopping, the TV's requests, the sound switch and the
// presentation report.
//
// The cast is in one state (CastState), and every road that ends it (CastStop) goes through one stop.
//
// Threads: everything runs on the main thread (asserted), the TV's answers included: its calls
// (TvCastDelegate, on the TCPManager queue or the receive thread) move to the main queue first; so a
// quality answer, the answer's time-out, a stop and a disconnect never overlap. The media callbacks
// run on the capture and sound threads and read only atomics (the cast state, the sound switch, the
// dropped-buffer counter) and the link's sendType.
class CastingController final : public TvCastDelegate,
                                public SoundSwitchStateDelegate,
                                public UserChangeVideoQualityDelegate {
public:
    // The TV's quality answer must come within this, or the announced cast stops.
    static constexpr std::chrono::milliseconds kQualityAnswerTimeout{2'000};
    static constexpr std::chrono::milliseconds kQualitySupportDelay{500};
    // How long the toast for an unanswered cast stays (its close button ends it sooner).
    static constexpr float kNoAnswerToastSeconds = 8.0f;
    // The TV edition that takes no cast from the screen button.
    static constexpr int32_t kEditionWithoutCasting = 5;
    // Sound buffers dropped at the start of the first cast after the controller was made.
    static constexpr int32_t kDroppedSoundBuffers = 12;

    // What the media callbacks handed to the link since the controller was made.
    struct Totals {
        uint64_t videoFrames = 0;
        uint64_t videoBytes = 0;
        uint64_t audioFrames = 0;
        uint64_t audioBytes = 0;
    };

    // Where the TV's touches land while a screen cast captures: the cast display in X screen
    // coordinates, and its pixels per cast pixel.
    struct TouchArea {
        Rect display;
        float ratioX = 0;
        float ratioY = 0;
    };

    explicit CastingController(MainWindowController& owner);
    // Stops a capture still running, sending nothing.
    ~CastingController() override;
    CastingController(const CastingController&) = delete;
    CastingController& operator=(const CastingController&) = delete;

    // --- The user's actions.
    // The screen button toggled to `screenButtonOn`: start a whole-screen cast (after the casting code
    // check), or stop the cast.
    void clickScreen(bool screenButtonOn);
    void clickStopScreenBtn();
    // OK of the casting-code window, with the field's text.
    void inputScreenProjectionCode(const std::string& typed);
    void cancelScreenProjectionCodeButton();
    // The sound switch: sound capture keeps running, only its sending stops or resumes.
    void reportSoundSwitchState(bool on) override;
    // The quality choice (gSelectedQualityIndex) changed, or the TV answered: restarts video capture
    // at the chosen size while a cast captures; before the TV's first answer only the choice is kept.
    void userChangeVideoQuality() override;
    // The system's presentation options changed to `options` (key path `keyPath`).
    void presentationOptionsChanged(const std::string& keyPath, int64_t options);

    // --- TvCastDelegate: the TCPManager queue (the answer, the request, the interrupt) or the receive
    // thread (the lock, the quality support); each moves to the main queue.
    void onVideoQuality(int level, int width, int height, int fps) override;
    void tvRequestMirror() override;
    void tvIntErruptMirror() override;
    void tvMirrorLock() override;
    void supportChangeQuality(bool support) override;

    // Announces a cast of width x height (1920 x 1080 when either is 0) and waits for the TV's answer.
    void startScreenSharing(int32_t width, int32_t height);
    // The one stop, for every road: stops capture and sound; unless the link is gone, drops the media
    // still queued for the TV and sends kMsgCastStop (also when no cast runs: the TV hears the stop
    // whatever it thought); then the idle state and the end-of-session step for the cast. Does
    // nothing while a stop is under way.
    void stopScreenSharing(CastStop why = CastStop::User);

    CastState castState() const { return castState_.load(); }
    // Announced or casting: started, and not stopped yet.
    bool castRunning() const;

    // A screen (not window) cast captures; nullopt otherwise.
    std::optional<TouchArea> touchArea() const;
    Totals totals() const;
    // The size and frame rate video is captured at; nullopt while no capture runs.
    std::optional<CastQuality::Format> captureFormat() const;

private:
    // The TV's reports, on the main thread.
    void qualityAnswered(int level);
    void castRequested();
    void castInterrupted();
    // (Re)starts video capture at the chosen size and the TV's frame rate: the cast is casting.
    void restartCapture(Size size);
    // (Re)starts capture at w x h, f frames per second, and sound when it does not run.
    void changeEncodeSession(int32_t width, int32_t height, int32_t fps);
    // The display a screen cast captures: the extended screen's for screenType 1, else the main one.
    std::optional<CastDisplay> sourceDisplay() const;
    // Stops and releases the video capture, then the sound capture; each returns only after the
    // callback it has in flight.
    void stopCapture();
    void stopVideoCapture();

    // Capture and sound threads.
    static int32_t videoCallback(void* user, const uint8_t* bytes, uint32_t length);
    static int32_t soundCallback(void* user, const uint8_t* bytes, uint32_t length);
    bool send(uint16_t type, const uint8_t* bytes, uint32_t length, std::atomic<uint64_t>& frames,
              std::atomic<uint64_t>& totalBytes);

    MainWindowController& owner_;
    TCPManager& link_;
    const CastMedia media_;
    ThreadAffinity mainThread_;
    // Written on the main thread, read by the media callbacks.
    std::atomic<CastState> castState_{CastState::Idle};
    // Armed while the cast is announced.
    DispatchTimer VideoQualityTimeout_;
    std::unique_ptr<CastVideoSource> recordManager_;
    std::unique_ptr<CastSoundSource> audioManager_;
    // The display and format of the running capture.
    std::optional<CastDisplay> castDisplay_;
    std::optional<CastQuality::Format> captureFormat_;
    // Counts the sound buffers dropped so far, from -1; read and written on the sound queue only.
    std::atomic<int32_t> rmAudioCnt_{-1};
    std::atomic<uint64_t> videoFrames_{0};
    std::atomic<uint64_t> videoBytes_{0};
    std::atomic<uint64_t> audioFrames_{0};
    std::atomic<uint64_t> audioBytes_{0};
    // Delayed work and alert answers do nothing once the controller is gone.
    MainQueueGuard guard_;
};
