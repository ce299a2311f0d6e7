#include "UI/TvMirror/DisplayWindowController.h"

#include "Socket/TCPManager.h"
#include "Socket/ViewSizePayload.h"
#include "UI/KeycodeConverter.h"
#include "UI/TvMirror/DisplayLayer.h"
#include "UI/TvMirror/DisplayWindowDelegate.h"
#include "UI/TvMirror/DisplayWindowView.h"
#include "Utils/Log.h"

#include <utility>

DisplayWindowController::DisplayWindowController(DisplayWindowView& view, DisplayLayer& layer, Services services)
    : view_(view), layer_(layer), keyboard_(services.keyboard), link_(services.link),
      input_(std::move(services.sender), view)
{
    if (link_)
        link_->setReverseVersionDelegate(this);
}

DisplayWindowController::~DisplayWindowController()
{
    // Once cleared, the link calls nothing here any more, so nothing is posted after the guard goes.
    if (link_ && link_->reverseVersionDelegate() == this)
        link_->setReverseVersionDelegate(nullptr);
}

void DisplayWindowController::showWindow()
{
    view_.showWindow();
    if (!keyboard_)
        return;
    if (controlStatus_.load())
        keyboard_->startKeyboardListen();
    else
        keyboard_->stopKeyboardListen();
}

void DisplayWindowController::setMouseSize(DisplaySize tv)
{
    mainQueue_.post([this, tv] { applyTvSize(tv); });
}

void DisplayWindowController::applyTvSize(DisplaySize tv)
{
    const auto content = DisplayGeometry::contentSizeForTv(tv);
    if (!content) {
        PLOG("TV resolution %f x %f ignored: the window keeps its size", tv.width, tv.height);
        return;
    }
    view_.setContentSize(*content);
    view_.raiseSidebarHandle();
    view_.centerWindow();
    tvScreenSize_ = tv;
    // Read back: the window may have rounded the size it took.
    const DisplaySize taken = view_.contentSize();
    mouseScale_ = {DisplayGeometry::scale(tv.width, taken.width), DisplayGeometry::scale(tv.height, taken.height)};
}

void DisplayWindowController::showSampleBuffer(const std::shared_ptr<const CompressedSample>& sample)
{
    // A sample cut before the stream's parameter sets has nothing to decode against.
    if (!sample || !sample->formatDescription())
        return;
    if (layer_.status() == DisplayLayer::Status::Failed || !layer_.isReadyForMoreMediaData())
        return;
    layer_.enqueueSampleBuffer(sample);
}

void DisplayWindowController::stopDisplayLayer()
{
    if (keyboard_)
        keyboard_->stopKeyboardListen();
    layer_.flushAndRemoveImage();
}

void DisplayWindowController::tvAppVersion(int version)
{
    tvVersion_.store(version);
    mainQueue_.post([this, version] { view_.showSidebarHandle(version >= kSidebarVersion); });
}

void DisplayWindowController::changeControlStatus(bool granted)
{
    controlStatus_.store(granted);
    mainQueue_.post([this, granted] { applyControlStatus(granted); });
}

void DisplayWindowController::applyControlStatus(bool granted)
{
    if (granted) {
        retractEvent();
        view_.showSidebarHandle(handleShownForVersion());
        if (keyboard_ && view_.isWindowVisible())
            keyboard_->startKeyboardListen();
        return;
    }
    input_.stopAnnotation();
    retractEvent();
    view_.showSidebarHandle(false);
    if (keyboard_)
        keyboard_->stopKeyboardListen();
}

void DisplayWindowController::getWindowSizeSendTv(int messageType)
{
    mainQueue_.post([this, messageType] { sendWindowSize(messageType); });
}

void DisplayWindowController::sendWindowSize(int messageType)
{
    const DisplaySize content = view_.contentSize();
    const auto width = static_cast<float>(content.width);
    const auto height = static_cast<float>(content.height);
    // From now on touches go out in content points. Set, not divided: a window of no size would give NaN.
    mouseScale_ = {1.0f, 1.0f};
    PLOG("send width = %f,height = %f", width, height);
    const ViewSizePayload payload{.width = DisplayGeometry::saturatingInt32(width),
                                  .height = DisplayGeometry::saturatingInt32(height)};
    input_.send(messageType, payload.encode());
}

void DisplayWindowController::sidebarEvent()
{
    view_.showSidebar(true);
    view_.showSidebarHandle(false);
}

void DisplayWindowController::retractEvent()
{
    view_.showSidebar(false);
    view_.showSidebarHandle(true);
}

void DisplayWindowController::onPanGesRecognizer(PanState state, double translationY)
{
    if (state != PanState::Changed && state != PanState::Ended)
        return;
    view_.moveSidebarHandle(DisplayGeometry::handleOriginY(view_.sidebarHandleY(), translationY,
                                                           view_.contentSize().height, view_.sidebarHandleHeight()));
}

void DisplayWindowController::windowDidResize()
{
    const DisplaySize content = view_.contentSize();
    mouseScale_ = {DisplayGeometry::scale(tvScreenSize_.width, content.width),
                   DisplayGeometry::scale(tvScreenSize_.height, content.height)};
}

DisplaySize DisplayWindowController::windowWillResize(DisplaySize proposedFrame) const
{
    return DisplayGeometry::frameSizeForUserResize(proposedFrame, view_.titleBarHeight());
}

DisplayRect DisplayWindowController::windowWillUseStandardFrame(DisplayRect defaultFrame) const
{
    return DisplayGeometry::standardFrame(view_.windowFrame(), defaultFrame, view_.mainDisplayWidth());
}

void DisplayWindowController::windowWillClose()
{
    if (delegate_)
        delegate_->displayWindowWillClose();
    input_.stopAnnotation();
}

bool DisplayWindowController::inside(DisplayPoint point) const
{
    const DisplaySize content = view_.contentSize();
    return !(point.x < 0 || point.y < 0 || point.x > content.width || point.y > content.height);
}

void DisplayWindowController::touch(DisplayInputForwarder::TouchPhase phase, DisplayPoint point)
{
    input_.touch(phase, point, mouseScale_, view_.contentSize().height, controlStatus_.load());
}

void DisplayWindowController::mouseDown(DisplayPoint point)
{
    if (inside(point))
        touch(DisplayInputForwarder::TouchPhase::Down, point);
}

void DisplayWindowController::mouseDragged(DisplayPoint point, double deltaX, double deltaY)
{
    if (!inside(point))
        return;
    // A drag that has not moved yet stands for the press the window may not have seen.
    if (deltaX == 0 && deltaY == 0)
        touch(DisplayInputForwarder::TouchPhase::Down, point);
    touch(DisplayInputForwarder::TouchPhase::Move, point);
}

void DisplayWindowController::mouseUp(DisplayPoint point)
{
    if (inside(point))
        touch(DisplayInputForwarder::TouchPhase::Up, point);
}

void DisplayWindowController::mouseEntered()
{
    touch(DisplayInputForwarder::TouchPhase::Up, {});
}

void DisplayWindowController::mouseExited()
{
    touch(DisplayInputForwarder::TouchPhase::Up, {});
}

void DisplayWindowController::scrollWheel(double deltaX, double deltaY)
{
    input_.scroll(deltaX, deltaY, mouseScroll_, controlStatus_.load());
}

void DisplayWindowController::annotationEvent(bool on)
{
    if (on)
        input_.startAnnotation(controlStatus_.load());
    else
        input_.stopAnnotation();
}

void DisplayWindowController::exitAnnotationEvent()
{
    input_.stopAnnotation();
}

void DisplayWindowController::revokeEvent()
{
    input_.revokeEvent();
}

void DisplayWindowController::cleanAnnotationEvent()
{
    input_.cleanAnnotationEvent();
}

void DisplayWindowController::goHomeEvent()
{
    input_.goHomeEvent();
}
