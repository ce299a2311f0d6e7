#pragma once

#include "Media/EncoderH264/ScreenType.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

class MainWindowController;
class ScreenProjectionCodeWindow;

namespace Ui {
class CastingController;
}

// The connected page's screen-cast controls (the screen button, a toggle, and the stop button that
// replaces it while a cast runs), the view buttons of the TV's screen (the same pair) and the casting-code window they may open. Shows what
// CastingController decides through the casting calls of the main window's view, which forwards
// them here, and hands the buttons' actions to the controller. Main thread.
class CastingControls final : public QWidget {
    Q_OBJECT
public:
    // The casting-code window is a window of its own, owned by window.
    CastingControls(QWidget* parent, QWidget* window);
    ~CastingControls() override;

    // Where the actions go; nullptr: nowhere.
    void setController(MainWindowController* controller);

    // The casting view's calls (CastingView).
    void showCastingCodeWindow();
    void hideCastingCodeWindow();
    void setCastingCodeText(const std::string& text);
    void showCastingCodeError(const std::string& error);
    void showCastingState(bool fromScreenButton);
    void showIdleState(ScreenType lastScreenType);
    // A link came or went: the screen and view buttons shown, off and enabled, the stop buttons hidden.
    void showAtRest();
    // The window cast's buttons (WindowCastView::showWindowCastButtons).
    void showWindowCastButtons(bool windowCasting);

    // The viewing view's calls on the view buttons (ViewingView).
    void setMirrorButtonOn(bool on);
    void setMirrorButtonEnabled(bool enabled);
    void setStopMirrorButtonEnabled(bool enabled);
    void showViewingState(bool viewing);

    ScreenProjectionCodeWindow& castingCodeWindow() const { return *codeWindow_; }

private:
    // Shows one of the two buttons; the keyboard focus moves with it, so Space works the next step.
    void showScreenButton(bool startShown);
    // Shows one button in place of the other, the keyboard focus moving along; to a disabled one once
    // it is enabled, the window itself holding the focus meanwhile.
    void swapButtons(QWidget* shown, QWidget* hidden);
    void connectMirrorButtons();
    void enable(QWidget& button, bool enabled);

    std::unique_ptr<Ui::CastingController> ui_;
    ScreenProjectionCodeWindow* codeWindow_ = nullptr;
    MainWindowController* controller_ = nullptr;
    // A button that was given the keys while disabled: it takes them once it is enabled.
    QPointer<QWidget> focusOnEnable_;
};
