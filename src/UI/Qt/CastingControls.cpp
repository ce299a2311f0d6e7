#include "UI/Qt/CastingControls.h"

#include "UI/LocalizedText.h"
#include "UI/MainWindowController.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/ScreenProjectionCodeWindow.h"
#include "UI/Qt/UiText.h"
#include "ui_CastingController.h"

#include <QVBoxLayout>

namespace {

QString localized(const char* key)
{
    return QString::fromStdString(LocalizedText::text(key));
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
    ui_->screenText->setText(localized("STRING_SCREEN_TEXT"));
    ui_->screenBtn->setText(localized("STRING_SCREEN_BTN"));
    ui_->stopScreenBtn->setText(localized("STRING_STOP"));
    ui_->screenBtn->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    ui_->stopScreenBtn->setStyleSheet(ButtonStyle::filled(PColors::getRedColor()));
    ui_->stopScreenBtn->hide();
    ui_->windowBtn->setText(UiText::localized("STRING_WINDOW_BTN"));
    ui_->goWindowBtn->setText(UiText::localized("STRING_GO_WINDOW"));
    ui_->pauseBtn->setText(UiText::localized("STRING_PAUSE"));
    for (QPushButton* button : {ui_->windowBtn, ui_->goWindowBtn, ui_->pauseBtn})
        button->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    showWindowCastButtons(false);
    setFocusProxy(ui_->screenBtn);
    codeWindow_->hide();
    connect(ui_->screenBtn, &QPushButton::clicked, this, [this](bool on) {
        if (controller_)
            controller_->clickScreen(on);
    });
    connect(ui_->windowBtn, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->toWindowInfoView();
    });
    connect(ui_->goWindowBtn, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->goWindowInfo();
    });
    connect(ui_->pauseBtn, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->pauseWindowScreen();
    });
    connect(ui_->stopScreenBtn, &QPushButton::clicked, this, [this] {
        // The screen button goes off first, as the stop is its toggle's other half.
        ui_->screenBtn->setChecked(false);
        if (controller_)
            controller_->clickStopScreenBtn();
    });
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

void CastingControls::showCastingState(bool)
{
    // The window page's controls, which change too after the screen button, come with that page.
    showScreenButton(false);
}

void CastingControls::showIdleState(ScreenType)
{
    ui_->screenBtn->setChecked(false);
    ui_->screenBtn->setText(localized("STRING_START"));
    showScreenButton(true);
}

void CastingControls::showAtRest()
{
    ui_->screenBtn->setChecked(false);
    ui_->screenBtn->setEnabled(true);
    showScreenButton(true);
    showWindowCastButtons(false);
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

void CastingControls::showScreenButton(bool startShown)
{
    setFocusProxy(startShown ? ui_->screenBtn : ui_->stopScreenBtn);
    QWidget* shown = startShown ? ui_->screenBtn : ui_->stopScreenBtn;
    QWidget* hidden = startShown ? ui_->stopScreenBtn : ui_->screenBtn;
    // The window's focus widget, which it keeps while another window is active.
    const bool hadFocus = window()->focusWidget() == hidden;
    shown->show();
    hidden->hide();
    if (hadFocus)
        shown->setFocus();
}

QWidget* CastingControls::lastControl() const
{
    return ui_->pauseBtn;
}
