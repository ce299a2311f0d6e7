#include "Session/TvScreenController.h"

#include "Media/VideoDisplaySink.h"
#include "Platform/SerialQueue.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Socket/ViewSizePayload.h"
#include "UI/KeycodeConverter.h"
#include "Utils/LocalizedText.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"
#include "UI/TvMirror/DisplayWindowController.h"
#include "UI/TvMirror/DisplayWindowView.h"
#include "Utils/Log.h"

#include <cassert>
#include <utility>
#include <vector>

namespace {

// TV editions that show their screen to no sender.
bool editionWithoutViewing(int32_t edition)
{
    return edition == 2 || edition == 5;
}

constexpr int64_t kVersionToastPosition = 1;
constexpr float kVersionToastSeconds = 3.0f;

} // namespace

TvScreenController::TvScreenController(MainWindowController& owner)
    : owner_(owner), displayQueue_(SerialQueue::create("com.display.queue"))
{
    TCPManager& link = owner_.link();
    DisplayWindowController::Services services;
    // TCPManager::sendType only queues, from any thread.
    services.sender = [&link](int type, const uint8_t* data, int len) { return link.sendType(type, data, len); };
    // The process-wide key forwarder sends through the process-wide link only.
    services.keyboard = owner_.services().link ? nullptr : &KeycodeConverter::sharedManager();
    services.link = &link;
    ViewingView& view = owner_.view();
    displayWindow_ = std::make_unique<DisplayWindowController>(view.displayWindowView(), view.displayLayer(), services);
    displayWindow_->setDisplayWindowDelegate(this);
    replaceSplitter();
}

TvScreenController::~TvScreenController()
{
    assert(mainThread_.holds());
    // No packet comes any more; the ones queued still reach this controller and the window.
    displayQueue_->sync([] {});
    displayWindow_->setDisplayWindowDelegate(nullptr);
}

void TvScreenController::clickMirrorBtn(bool on)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    // The refusals concern a start only: a stop always goes through, or the page could not leave viewing.
    if (on && editionWithoutViewing(state.activeVersion)) {
        setMirrorButton(false);
        owner_.view().showToastTip(LocalizedText::text("STRING_VERSION_LOW"), false, kVersionToastPosition,
                                   kVersionToastSeconds);
        return;
    }
    if (on && owner_.casting().castRunning()) {
        setMirrorButton(false);
        owner_.view().showAlert(LocalizedText::text("STRING_TIP"), LocalizedText::text("STRING_STOP_SCREEN"), {});
        return;
    }
    if (on)
        startViewing();
    else
        stopViewing(true);
}

void TvScreenController::clickStopMirrorBtn()
{
    assert(mainThread_.holds());
    setMirrorButton(false);
    owner_.view().setMirrorButtonEnabled(false);
    clickMirrorBtn(false);
    enableMirrorButtonLater();
}

void TvScreenController::tvInviteToReverse()
{
    guard_.post([this] { invited(); });
}

void TvScreenController::tvScreenFail(int reason)
{
    guard_.post([this, reason] { viewingRefused(reason); });
}

void TvScreenController::tvScreenStop()
{
    guard_.post([this] { viewingStoppedByTv(); });
}

void TvScreenController::invited()
{
    assert(mainThread_.holds());
    // The link delivers the invitation a second after it came: the TV may be gone by now.
    if (!owner_.state().ConnectWithTv) {
        PLOG("the TV's invitation to view its screen came after the link ended: ignored");
        return;
    }
    setMirrorButton(true);
    clickMirrorBtn(true);
}

void TvScreenController::viewingRefused(int reason)
{
    assert(mainThread_.holds());
    stopViewing(true);
    owner_.view().setMirrorButtonEnabled(true);
    owner_.view().showAlert(LocalizedText::text("STRING_TIP"),
                            LocalizedText::text(reason != 0 ? "STRING_EXIST_SCREEN" : "STRING_ONLY_SPEAKER_SCREEN"), {});
}

void TvScreenController::viewingStoppedByTv()
{
    assert(mainThread_.holds());
    if (owner_.casting().castRunning())
        return;
    setMirrorButton(false);
    clickMirrorBtn(false);
    enableMirrorButtonLater();
}

void TvScreenController::endSession(SessionEnd end)
{
    assert(mainThread_.holds());
    if (end == SessionEnd::Link)
        stopViewing(false);
}

void TvScreenController::displayWindowWillClose()
{
    // Main thread, from inside the window's close: the stop follows once the close is done.
    guard_.post([this] {
        setMirrorButton(false);
        clickMirrorBtn(false);
    });
}

void TvScreenController::startViewing()
{
    setMirrorButton(true);
    displayWindow_->showWindow();
    owner_.link().sendType(kMsgTvScreenStart, nullptr, 0);
    owner_.view().showViewingState(true);
}

void TvScreenController::stopViewing(bool tellTv)
{
    setMirrorButton(false);
    displayWindow_->stopDisplayLayer();
    owner_.view().displayWindowView().orderOut();
    replaceSplitter();
    if (tellTv)
        owner_.link().sendType(kMsgTvScreenStop, nullptr, 0);
    owner_.view().showViewingState(false);
}

void TvScreenController::setMirrorButton(bool on)
{
    owner_.state().viewingTvScreen = on;
    owner_.view().setMirrorButtonOn(on);
}

void TvScreenController::enableMirrorButtonLater()
{
    guard_.postAfter(kButtonDelay, [this] {
        PLOG("the view button takes clicks again");
        owner_.view().setMirrorButtonEnabled(true);
    });
}

void TvScreenController::onReceiveScreenReaolution(int width, int height)
{
    // The link's receive thread. A size no stream of the TV's may have sizes no window.
    if (width <= 0 || height <= 0 || width > VideoDisplaySink::kMaxPictureSide ||
        height > VideoDisplaySink::kMaxPictureSide) {
        PLOG("the TV's screen size %d x %d refused: its pictures are at most %d a side", width, height,
             VideoDisplaySink::kMaxPictureSide);
        return;
    }
    guard_.postAfter(kButtonDelay, [this] {
        PLOG("the stop button takes clicks");
        owner_.view().setStopMirrorButtonEnabled(true);
    });
    const std::vector<uint8_t> payload = ViewSizePayload{.width = width, .height = height}.encode();
    owner_.link().sendType(kMsgViewSize, payload.data(), static_cast<int>(payload.size()));
    displayWindow_->setMouseSize({static_cast<double>(width), static_cast<double>(height)});
}

void TvScreenController::onReveiveScreenVideoData(const uint8_t* data, int64_t len)
{
    // The link's video delivery thread.
    if (!data || len <= 0) {
        PLOG_WARNING("an empty packet of the TV's screen dropped");
        return;
    }
    auto packet = std::make_shared<const std::vector<uint8_t>>(data, data + len);
    displayQueue_->async([splitter = splitter(), packet = std::move(packet)]() mutable {
        // The samples share the packet; this hold goes as the task ends.
        splitter->readVideoInfo(std::move(packet));
    });
}

void TvScreenController::didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer)
{
    displayWindow_->showSampleBuffer(sampleBuffer);
}

void TvScreenController::replaceSplitter()
{
    auto fresh = std::make_shared<H264DecoderTool>();
    fresh->setDelegate(this);
    const std::lock_guard lock(splitterMutex_);
    h264DecoderTool_ = std::move(fresh);
}

std::shared_ptr<H264DecoderTool> TvScreenController::splitter() const
{
    const std::lock_guard lock(splitterMutex_);
    return h264DecoderTool_;
}
