#include "Session/CastingController.h"

#include "Platform/MainQueue.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Session/CastQuality.h"
#include "Session/CastingCode.h"
#include "Session/ExtendedScreen.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"
#include "Session/PresentationRule.h"
#include "UI/SelectedQualityIndex.h"
#include "Session/WindowCastController.h"
#include "Utils/Log.h"

#include <cassert>
#include <climits>
#include <cstring>

namespace {

const char* roadName(CastStop why)
{
    switch (why) {
    case CastStop::User: return "the user stopped it";
    case CastStop::TimeOut: return "the TV did not answer in time";
    case CastStop::TvInterrupt: return "the TV interrupted it";
    case CastStop::TvLock: return "the TV is locked";
    case CastStop::WindowLost: return "its window was lost";
    case CastStop::LinkEnded: return "the link ended";
    case CastStop::Quit: return "the program quits";
    }
    return "?";
}

} // namespace

CastingController::CastingController(MainWindowController& owner)
    : owner_(owner),
      link_(owner.link()),
      media_(owner.services().castMedia.withDefaults(owner.link())),
      VideoQualityTimeout_(MainQueue::shared(), [this] { stopScreenSharing(CastStop::TimeOut); })
{
    assert(mainThread_.holds());
}

CastingController::~CastingController()
{
    assert(mainThread_.holds());
    VideoQualityTimeout_.cancel();
    stopCapture();
}

void CastingController::clickScreen(bool screenButtonOn)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    // Only a start is refused: the stop must work for a cast the TV asked for.
    if (screenButtonOn && state.activeVersion == kEditionWithoutCasting) {
        owner_.view().showToastTip(LocalizedText::text("STRING_VERSION_LOW"), false, 1, 3.0f);
        return;
    }
    state.screenType = kScreenTypeWholeScreen;
    if (!screenButtonOn) {
        stopScreenSharing(CastStop::User);
        return;
    }
    if (!CastingCode::matches(state.screenProjectionCode, state.inputScreenProjectionCode)) {
        owner_.windowCast().showCastingCodeWindow();
        return;
    }
    if (castRunning()) {
        userChangeVideoQuality();
    } else {
        startScreenSharing(state.screenWidth, state.screenHeight);
        state.screenWidth = state.screenHeight = state.screenFps = 0;
    }
    owner_.view().showCastingState(true);
    owner_.windowCast().screenCastStarted(true);
}

void CastingController::clickStopScreenBtn()
{
    clickScreen(false);
}

void CastingController::inputScreenProjectionCode(const std::string& typed)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    state.inputScreenProjectionCode = typed;
    // A wrong code keeps the window open, the error under the field, for another try.
    if (!CastingCode::matches(state.screenProjectionCode, typed)) {
        owner_.view().showCastingCodeError(LocalizedText::text("STRING_INPUT_ERROR"));
        return;
    }
    owner_.view().showCastingCodeError("");
    owner_.windowCast().hideCastingCodeWindow();
    if (state.screenType == kScreenTypeWholeScreen)
        clickScreen(true);
    else
        owner_.windowCast().clickStartWindowScreen();
}

void CastingController::cancelScreenProjectionCodeButton()
{
    assert(mainThread_.holds());
    owner_.windowCast().hideCastingCodeWindow();
    owner_.view().showCastingCodeError("");
    owner_.state().inputScreenProjectionCode.clear();
    owner_.view().setCastingCodeText("");
}

void CastingController::reportSoundSwitchState(bool on)
{
    owner_.state().audioSendFlag.store(on);
}

void CastingController::startScreenSharing(int32_t width, int32_t height)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    castState_.store(CastState::Announced);
    const bool unsized = width == 0 || height == 0;
    link_.sendVideoResolution(unsized ? 1920 : width, unsized ? 1080 : height, static_cast<int>(state.screenType));
    link_.sendAudioAACFormatChannels(2, 44'100, 2);
    VideoQualityTimeout_.start(kQualityAnswerTimeout);
}

void CastingController::onVideoQuality(int level, int, int, int)
{
    guard_.post([this, level] { qualityAnswered(level); });
}

void CastingController::qualityAnswered(int level)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    if (!castRunning())
        return;
    const CastQuality::Format format = CastQuality::forLevel(level);
    // The same answer again changes nothing; an announced cast's time-out stays armed.
    if (format == CastQuality::Format{state.screenWidth, state.screenHeight, state.screenFps})
        return;
    state.screenWidth = format.width;
    state.screenHeight = format.height;
    state.screenFps = format.fps;
    restartCapture(CastQuality::encodedSize(gSelectedQualityIndex.load(), {state.screenWidth, state.screenHeight}));
}

void CastingController::userChangeVideoQuality()
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    const Size size =
        CastQuality::encodedSize(gSelectedQualityIndex.load(), {state.screenWidth, state.screenHeight});
    switch (castState_.load()) {
    case CastState::Idle:
    case CastState::Stopping:
        state.screenWidth = size.width;
        state.screenHeight = size.height;
        return;
    case CastState::Announced:
        // No frame rate or size to capture with yet: the answer applies the choice, and the
        // time-out stays armed.
        PLOG("quality choice %d kept until the TV answers", gSelectedQualityIndex.load());
        return;
    case CastState::Casting:
        restartCapture(size);
        return;
    }
}

void CastingController::restartCapture(Size size)
{
    VideoQualityTimeout_.cancel();
    stopVideoCapture();
    castState_.store(CastState::Casting);
    changeEncodeSession(size.width, size.height, owner_.state().screenFps);
}

void CastingController::changeEncodeSession(int32_t width, int32_t height, int32_t fps)
{
    assert(width > 0 && height > 0 && fps >= 1);
    SessionState& state = owner_.state();
    castDisplay_ = sourceDisplay();
    const Rect source = castDisplay_ ? castDisplay_->frame : Rect{0, 0, width, height};
    state.tvTounchRatioX = static_cast<float>(source.width) / static_cast<float>(width);
    state.tvTounchRatioY = static_cast<float>(source.height) / static_cast<float>(height);
    link_.sendVideoResolution(width, height, static_cast<int>(state.screenType));
    if (!recordManager_ && (recordManager_ = media_.makeVideoSource())) {
        captureFormat_ = CastQuality::Format{width, height, fps};
        recordManager_->setDelegate(&owner_.windowCast());
        recordManager_->SetCallback(this, videoCallback);
        recordManager_->StartRecord(width, height, fps, state.screenType, state.windowInfo, castDisplay_ ? castDisplay_->id : 0);
    }
    // Sound starts before its callback is set; the sound capture of a running cast is kept.
    if (!audioManager_ && (audioManager_ = media_.makeSoundSource())) {
        owner_.routeCastSound();
        audioManager_->StartRecord();
        audioManager_->SetCallback(this, soundCallback);
    }
}

std::optional<CastDisplay> CastingController::sourceDisplay() const
{
    // Without a virtual display beside the main one, the extended screen casts the main display.
    if (owner_.state().screenType == kScreenTypeExtendedScreen) {
        if (auto extended = owner_.extendedScreen().castDisplay())
            return extended;
    }
    return media_.mainDisplay();
}

bool CastingController::castRunning() const
{
    const CastState state = castState_.load();
    return state == CastState::Announced || state == CastState::Casting;
}

void CastingController::stopScreenSharing(CastStop why)
{
    assert(mainThread_.holds());
    if (castState_.load() == CastState::Stopping)
        return;
    const bool wasRunning = castRunning();
    if (wasRunning)
        PLOG("the cast stops: %s", roadName(why));
    const bool linkGone = why == CastStop::LinkEnded || why == CastStop::Quit;
    castState_.store(CastState::Stopping);
    VideoQualityTimeout_.cancel();
    stopCapture();
    if (!linkGone) {
        // Frames still queued would follow the stop message, which overtakes media in the send lists.
        link_.dropQueuedMedia();
        link_.sendType(kMsgCastStop, nullptr, 0);
    }
    castState_.store(CastState::Idle);
    // At the link's end the connection's concern shows every control at rest; a quit shows the idle
    // state only for a cast that ran.
    if (why != CastStop::LinkEnded && (why != CastStop::Quit || wasRunning))
        owner_.view().showIdleState(owner_.state().screenType);
    if (why == CastStop::TimeOut && wasRunning)
        owner_.view().showToastTip(LocalizedText::text("STRING_CAST_NO_ANSWER"), true, 1, kNoAnswerToastSeconds);
    // Every concern undoes what the cast started, even when none ran (the window page's start button
    // then shows a start again).
    owner_.endSession(SessionEnd::Cast);
}

void CastingController::stopVideoCapture()
{
    if (!recordManager_)
        return;
    recordManager_->StopRecord();
    recordManager_->deallocRecord();
    recordManager_.reset();
    castDisplay_.reset();
    captureFormat_.reset();
}

void CastingController::stopCapture()
{
    stopVideoCapture();
    if (audioManager_) {
        audioManager_->StopRecord();
        audioManager_.reset();
    }
}

void CastingController::tvRequestMirror()
{
    guard_.post([this] { castRequested(); });
}

void CastingController::castRequested()
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    if (state.viewingTvScreen)
        owner_.view().showAlert(LocalizedText::text("STRING_TIP"), LocalizedText::text("STRING_STOP_TVMIRROR"), {});
    if (castRunning() || state.viewingTvScreen)
        return;
    state.screenType = kScreenTypeWholeScreen;
    startScreenSharing(state.screenWidth, state.screenHeight);
    state.screenWidth = state.screenHeight = state.screenFps = 0;
    owner_.view().showCastingState(false);
    owner_.windowCast().screenCastStarted(false);
}

void CastingController::tvIntErruptMirror()
{
    guard_.post([this] { castInterrupted(); });
}

void CastingController::castInterrupted()
{
    if (castRunning())
        stopScreenSharing(CastStop::TvInterrupt);
}

void CastingController::tvMirrorLock()
{
    guard_.post([this] {
        owner_.view().showAlert(LocalizedText::text("STRING_TIP"), LocalizedText::text("STRING_RECEIVER_LOCK"),
                                guard_.guarded([this] { stopScreenSharing(CastStop::TvLock); }));
    });
}

void CastingController::supportChangeQuality(bool support)
{
    // Any thread: the guard posts.
    guard_.postAfter(kQualitySupportDelay, [this, support] {
        if (!support)
            gSelectedQualityIndex.store(0);
        owner_.view().showQualityEntry(support);
    });
}

void CastingController::presentationOptionsChanged(const std::string& keyPath, int64_t options)
{
    assert(mainThread_.holds());
    if (keyPath != PresentationRule::kKeyPath)
        return;
    const auto& frontmost = owner_.services().frontmostBundleId;
    const auto state = PresentationRule::stateFor(frontmost ? frontmost() : std::string{}, options);
    if (!state)
        return;
    uint8_t payload[sizeof(int32_t)];
    std::memcpy(payload, &*state, sizeof payload);
    link_.sendType(kMsgPresentationState, payload, sizeof payload);
}

std::optional<CastingController::TouchArea> CastingController::touchArea() const
{
    const SessionState& state = owner_.state();
    if (castState_.load() != CastState::Casting || !recordManager_ || state.screenType == kScreenTypeWindow)
        return std::nullopt;
    const Rect display = castDisplay_ ? castDisplay_->frame : Rect{};
    return TouchArea{display, state.tvTounchRatioX, state.tvTounchRatioY};
}

std::optional<CastQuality::Format> CastingController::captureFormat() const
{
    return captureFormat_;
}

CastingController::Totals CastingController::totals() const
{
    return {videoFrames_.load(), videoBytes_.load(), audioFrames_.load(), audioBytes_.load()};
}

bool CastingController::send(uint16_t type, const uint8_t* bytes, uint32_t length, std::atomic<uint64_t>& frames,
                             std::atomic<uint64_t>& totalBytes)
{
    if (length > static_cast<uint32_t>(INT_MAX) || !link_.sendType(type, bytes, static_cast<int>(length)))
        return false;
    frames.fetch_add(1);
    totalBytes.fetch_add(length);
    return true;
}

int32_t CastingController::videoCallback(void* user, const uint8_t* bytes, uint32_t length)
{
    auto& self = *static_cast<CastingController*>(user);
    if (self.castState_.load() != CastState::Casting)
        return 0;
    // A frame the link dropped makes the encoder start again from a key frame.
    return self.send(kMsgVideoFrame, bytes, length, self.videoFrames_, self.videoBytes_) ? 0 : -1;
}

int32_t CastingController::soundCallback(void* user, const uint8_t* bytes, uint32_t length)
{
    auto& self = *static_cast<CastingController*>(user);
    // The first buffers after start-up carry the encoder's priming; the count is never reset.
    const int32_t dropped = self.rmAudioCnt_.load();
    if (dropped < kDroppedSoundBuffers - 1) {
        self.rmAudioCnt_.store(dropped + 1);
        return 0;
    }
    if (self.owner_.state().audioSendFlag.load() && self.castState_.load() == CastState::Casting)
        self.send(kMsgAudioFrame, bytes, length, self.audioFrames_, self.audioBytes_);
    return 0;
}
