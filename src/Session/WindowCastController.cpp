#include "Session/WindowCastController.h"

#include "Media/EncoderH264/windowInfo.h"
#include "Platform/DisplaySession.h"
#include "Platform/PortalScreenCast.h"
#include "Session/CastingCode.h"
#include "Session/CastingController.h"
#include "Session/ExtendedScreen.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"
#include "UI/WaylandWindowListSource.h"
#include "UI/X11WindowListSource.h"
#include "Utils/Log.h"

#include <cassert>
#include <utility>

namespace {

using StartButton = WindowCastView::WindowStartButton;

// A Wayland session lists no other client's windows: its desktop lets the user choose one.
std::shared_ptr<WindowListSource> defaultWindowList()
{
    if (DisplaySession::current() == DisplaySession::Kind::kWayland)
        return std::make_shared<WaylandWindowListSource>();
    return std::make_shared<X11WindowListSource>();
}

} // namespace

WindowCastController::WindowCastController(MainWindowController& owner, std::shared_ptr<WindowListSource> windows)
    : owner_(owner), picker_(windows ? std::move(windows) : defaultWindowList())
{
    assert(mainThread_.holds());
    picker_.setDelegate(this);
}

WindowCastController::~WindowCastController()
{
    assert(mainThread_.holds());
    picker_.setDelegate(nullptr);
    stopListening();
}

void WindowCastController::toWindowInfoView()
{
    assert(mainThread_.holds());
    // The poll starts with the first visit and runs from then on; the Extend tile gets its picture.
    if (!pollStarted_) {
        pollStarted_ = true;
        picker_.startFindWindowTimer();
        owner_.extendedScreen().showSnapshot();
    }
    owner_.state().inWindowInfoView = true;
    owner_.view().showPage(MainWindowPage::Window);
}

void WindowCastController::goWindowInfo()
{
    toWindowInfoView();
}

void WindowCastController::goBack()
{
    assert(mainThread_.holds());
    owner_.state().inWindowInfoView = false;
    owner_.view().showPage(MainWindowPage::Connected);
    owner_.view().hideToast();
}

void WindowCastController::selectWindow(std::shared_ptr<windowInfo> window)
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    // The desktop's tile picked again: its next cast asks which window.
    if (window && window->windowId() == WaylandWindowListSource::kChosenByDesktop)
        PortalTokens::forgetWindowChoice();
    if (!window || (state.windowInfo && state.windowInfo->windowId() == window->windowId()))
        return;
    state.windowInfo = std::move(window);
    state.screenType = kScreenTypeWindow;
    applyChoice();
}

void WindowCastController::selectExpand()
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    state.screenType = kScreenTypeExtendedScreen;
    state.windowInfo.reset();
    applyChoice();
}

void WindowCastController::applyChoice()
{
    if (!owner_.casting().castRunning()) {
        setStartButton(StartButton::Start);
        return;
    }
    owner_.view().showWindowCastButtons(true);
    setStartButton(StartButton::Stop);
    owner_.casting().userChangeVideoQuality();
}

void WindowCastController::clickStartWindowScreen()
{
    assert(mainThread_.holds());
    SessionState& state = owner_.state();
    if (owner_.casting().castRunning()) {
        stopCast(CastStop::User);
        return;
    }
    if (!choiceCastable())
        return;
    if (!CastingCode::matches(state.screenProjectionCode, state.inputScreenProjectionCode)) {
        showCastingCodeWindow();
        return;
    }
    owner_.view().showWindowCastButtons(true);
    setStartButton(StartButton::Stop);
    owner_.casting().startScreenSharing(state.screenWidth, state.screenHeight);
    state.screenWidth = state.screenHeight = state.screenFps = 0;
}

bool WindowCastController::choiceCastable()
{
    SessionState& state = owner_.state();
    if (state.screenType == kScreenTypeExtendedScreen)
        return true;
    // Without a window a window cast would announce a cast and capture nothing.
    if (state.screenType != kScreenTypeWindow || !state.windowInfo) {
        PLOG("window cast refused: no window chosen");
        owner_.view().showToastTip(LocalizedText::text("STRING_CHOOSE_WINDOW"), false, 1, 3.0f);
        return false;
    }
    // The picker's last poll no longer lists the window: it closed since the user chose it.
    const int32_t chosen = state.windowInfo->windowId();
    for (size_t index = 0; index < picker_.numberOfItems(); ++index) {
        const std::shared_ptr<windowInfo> listed = picker_.windowAt(index);
        if (listed && listed->windowId() == chosen)
            return true;
    }
    PLOG("window cast refused: window %d has closed", chosen);
    state.windowInfo.reset();
    picker_.deselectAll();
    setStartButton(StartButton::Disabled);
    owner_.view().showToastTip(LocalizedText::text("STRING_WINDOW_CLOSED"), false, 1, 3.0f);
    return false;
}

void WindowCastController::pauseWindowScreen()
{
    assert(mainThread_.holds());
    picker_.deselectAll();
    owner_.state().windowInfo.reset();
    setStartButton(StartButton::Disabled);
    owner_.casting().stopScreenSharing(CastStop::User);
}

void WindowCastController::stopScreenFunction()
{
    guard_.post([this] { windowLost(); });
}

void WindowCastController::windowLost()
{
    assert(mainThread_.holds());
    // Reported again while the capture winds down, or after the cast stopped: a stop already
    // happened, and going through the start button now would start a cast.
    if (!owner_.casting().castRunning())
        return;
    owner_.state().windowInfo.reset();
    stopCast(CastStop::WindowLost);
    setStartButton(StartButton::Disabled);
    owner_.view().showToastTip(LocalizedText::text("STRING_WINDOW_CLOSED"), true, 1, -1.0f);
}

void WindowCastController::stopCast(CastStop why)
{
    owner_.view().showWindowCastButtons(false);
    setStartButton(StartButton::Start);
    owner_.casting().stopScreenSharing(why);
}

void WindowCastController::showCastingCodeWindow()
{
    assert(mainThread_.holds());
    owner_.view().showCastingCodeWindow();
    startListening();
}

void WindowCastController::hideCastingCodeWindow()
{
    assert(mainThread_.holds());
    owner_.view().hideCastingCodeWindow();
    stopListening();
}

void WindowCastController::screenCastStarted(bool fromScreenButton)
{
    assert(mainThread_.holds());
    if (fromScreenButton) {
        owner_.view().showWindowCastButtons(false);
        picker_.deselectAll();
    }
    owner_.state().windowInfo.reset();
    setStartButton(StartButton::Disabled);
}

void WindowCastController::endSession(SessionEnd end)
{
    assert(mainThread_.holds());
    if (end == SessionEnd::Link) {
        if (listening_)
            hideCastingCodeWindow();
        return;
    }
    owner_.view().showWindowCastButtons(false);
    if (owner_.state().screenType != kScreenTypeWholeScreen && startButton_ != StartButton::Disabled)
        setStartButton(StartButton::Start);
}

void WindowCastController::setStartButton(WindowCastView::WindowStartButton state)
{
    startButton_ = state;
    owner_.view().showWindowStartButton(state);
}

void WindowCastController::startListening()
{
    assert(mainThread_.holds());
    stopListening();
    listening_ = true;
    owner_.view().castingCodeKeyMonitor().install([this](const KeyboardMonitor::Event& event) { handleKeyEvent(event); });
}

void WindowCastController::handleKeyEvent(const KeyboardMonitor::Event& event)
{
    assert(mainThread_.holds());
    if (event.type != KeyboardMonitor::Event::Type::KeyDown || event.keyCode != kReturnKeyCode)
        return;
    stopListening();
    owner_.casting().inputScreenProjectionCode(owner_.view().castingCodeFieldText());
}

void WindowCastController::stopListening()
{
    assert(mainThread_.holds());
    if (!listening_)
        return;
    listening_ = false;
    owner_.view().castingCodeKeyMonitor().remove();
}
