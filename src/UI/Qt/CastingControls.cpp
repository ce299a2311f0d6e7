#include "UI/Qt/CastingControls.h"

#include "Session/MainWindowController.h"
#include "Session/CastingController.h"
#include "Session/TvScreenController.h"
#include "Session/WindowCastController.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/ScreenProjectionCodeWindow.h"
#include "UI/Qt/UiText.h"
#include "ui_CastingController.h"

#include <QVBoxLayout>

namespace {

// A start button in blue below its label, and its stop in red, hidden until the start has been used.
void dressButtons(QLabel& label, const char* labelKey, QPushButton& start, const char* startKey, QPushButton& stop)
{
    label.setText(UiText::localized(labelKey));
    start.setText(UiText::localized(startKey));
    stop.setText(UiText::localized("STRING_STOP"));
    start.setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    stop.setStyleSheet(ButtonStyle::filled(PColors::getRedColor()));
    stop.hide();
}

} // namespace

CastingControls::CastingControls(QWidget* parent, QWidget* window)
    : QWidget(parent), ui_(std::make_unique<Ui::CastingController>()), codeWindow_(new ScreenProjectionCodeWindow(window))
{
    ui_->setupUi(this);
    if (parent && !parent->layout()) {
        auto* holder = new QVBoxLayout(parent);
        holder->setContentsMargins(0, 0, 0, 0);
        holder->addWidget(this);
    }
    dressButtons(*ui_->screenText, "STRING_SCREEN_TEXT", *ui_->screenBtn, "STRING_SCREEN_BTN", *ui_->stopScreenBtn);
    ui_->windowText->setText(UiText::localized("STRING_WINDOW_TEXT"));
    ui_->windowBtn->setText(UiText::localized("STRING_WINDOW_BTN"));
    ui_->goWindowBtn->setText(UiText::localized("STRING_GO_WINDOW"));
    ui_->pauseBtn->setText(UiText::localized("STRING_PAUSE"));
    for (QPushButton* button : {ui_->windowBtn, ui_->goWindowBtn, ui_->pauseBtn})
        button->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    showWindowCastButtons(false);
    setFocusProxy(ui_->screenBtn);
    codeWindow_->hide();
    forwardClicks(ui_->screenBtn, this, controller_, [](MainWindowController& c, bool on) { c.casting().clickScreen(on); });
    forwardClicks(ui_->windowBtn, this, controller_, [](MainWindowController& c) { c.windowCast().toWindowInfoView(); });
    forwardClicks(ui_->goWindowBtn, this, controller_, [](MainWindowController& c) { c.windowCast().goWindowInfo(); });
    forwardClicks(ui_->pauseBtn, this, controller_, [](MainWindowController& c) { c.windowCast().pauseWindowScreen(); });
    // The screen button goes off first, as the stop is its toggle's other half.
    connect(ui_->stopScreenBtn, &QPushButton::clicked, ui_->screenBtn, [button = ui_->screenBtn] {
        button->setChecked(false);
    });
    forwardClicks(ui_->stopScreenBtn, this, controller_, [](MainWindowController& c) { c.casting().clickStopScreenBtn(); });
    connectMirrorButtons();
}

void CastingControls::connectMirrorButtons()
{
    dressButtons(*ui_->mirrorText, "STRING_MIRROR_TEXT", *ui_->mirrorBtn, "STRING_MIRROR_BTN", *ui_->stopMirrorBtn);
    forwardClicks(ui_->mirrorBtn, this, controller_, [](MainWindowController& c, bool on) { c.viewing().clickMirrorBtn(on); });
    forwardClicks(ui_->stopMirrorBtn, this, controller_, [](MainWindowController& c) { c.viewing().clickStopMirrorBtn(); });
}

CastingControls::~CastingControls() = default;

void CastingControls::setController(MainWindowController* controller)
{
    controller_ = controller;
    codeWindow_->setController(controller);
}

void CastingControls::showCastingCodeWindow()
{
    codeWindow_->showInFront();
}

void CastingControls::hideCastingCodeWindow()
{
    codeWindow_->hide();
    // No cast began from this press (a right code starts one right after, which hides the button):
    // the next press asks for the code again instead of stopping a cast that never ran.
    ui_->screenBtn->setChecked(false);
}

void CastingControls::setCastingCodeText(const std::string& text)
{
    codeWindow_->setCastingCodeText(text);
}

void CastingControls::showCastingCodeError(const std::string& error)
{
    codeWindow_->showError(error);
}

void CastingControls::showCastingState(bool)
{
    // The window page's controls, which change too after the screen button, come with that page.
    showScreenButton(false);
    ui_->mirrorBtn->setEnabled(false);
}

void CastingControls::showIdleState(ScreenType)
{
    ui_->screenBtn->setChecked(false);
    ui_->screenBtn->setText(UiText::localized("STRING_START"));
    showScreenButton(true);
    ui_->mirrorBtn->setEnabled(true);
}

void CastingControls::showAtRest()
{
    ui_->screenBtn->setChecked(false);
    ui_->screenBtn->setEnabled(true);
    showScreenButton(true);
    showWindowCastButtons(false);
    ui_->mirrorBtn->setChecked(false);
    ui_->mirrorBtn->setEnabled(true);
    swapButtons(ui_->mirrorBtn, ui_->stopMirrorBtn);
}

void CastingControls::showWindowCastButtons(bool windowCasting)
{
    ui_->pauseBtn->setVisible(windowCasting);
    ui_->goWindowBtn->setVisible(windowCasting);
    ui_->windowBtn->setVisible(!windowCasting);
    if (!windowCasting)
        return;
    // The screen button offers a whole-screen cast in place of the window one.
    ui_->screenBtn->setChecked(false);
    ui_->screenBtn->setText(UiText::localized("STRING_START"));
    showScreenButton(true);
}

void CastingControls::setMirrorButtonOn(bool on)
{
    ui_->mirrorBtn->setChecked(on);
}

void CastingControls::setMirrorButtonEnabled(bool enabled)
{
    enable(*ui_->mirrorBtn, enabled);
}

void CastingControls::setStopMirrorButtonEnabled(bool enabled)
{
    enable(*ui_->stopMirrorBtn, enabled);
}

void CastingControls::enable(QWidget& button, bool enabled)
{
    button.setEnabled(enabled);
    if (!enabled || focusOnEnable_ != &button)
        return;
    // The keys come to the button that was given them while it was disabled.
    focusOnEnable_ = nullptr;
    if (button.isVisible())
        button.setFocus();
}

void CastingControls::showViewingState(bool viewing)
{
    // The stop takes clicks once the TV has told its size.
    if (viewing)
        ui_->stopMirrorBtn->setEnabled(false);
    swapButtons(viewing ? ui_->stopMirrorBtn : ui_->mirrorBtn, viewing ? ui_->mirrorBtn : ui_->stopMirrorBtn);
    ui_->screenBtn->setEnabled(!viewing);
    ui_->screenBtn->show();
    ui_->stopScreenBtn->hide();
    ui_->windowBtn->setEnabled(!viewing);
}

void CastingControls::showScreenButton(bool startShown)
{
    setFocusProxy(startShown ? ui_->screenBtn : ui_->stopScreenBtn);
    swapButtons(startShown ? ui_->screenBtn : ui_->stopScreenBtn, startShown ? ui_->stopScreenBtn : ui_->screenBtn);
}

void CastingControls::swapButtons(QWidget* shown, QWidget* hidden)
{
    // The window's focus widget, which it keeps while another window is active.
    const bool hadFocus = window()->focusWidget() == hidden;
    shown->show();
    if (hadFocus && !shown->isEnabled()) {
        // Until the button wakes the keys rest on the window itself, off every control: hiding the
        // focused button would hand them to the window's first control (the settings menu).
        focusOnEnable_ = shown;
        window()->setFocus();
    }
    hidden->hide();
    if (hadFocus && shown->isEnabled())
        shown->setFocus();
}
