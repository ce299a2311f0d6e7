#include "UI/Qt/CastingControls.h"

#include "UI/LocalizedText.h"
#include "UI/MainWindowController.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/ScreenProjectionCodeWindow.h"
#include "ui_CastingController.h"

#include <QVBoxLayout>

namespace {

QString localized(const char* key)
{
    return QString::fromStdString(LocalizedText::text(key));
}

// A filled button in the palette's colour; light grey while disabled.
QString buttonStyle(const QColor& colour)
{
    return QString("QPushButton { background-color: %1; color: white; border: none; border-radius: 6px; "
                   "font-size: 15px; padding: 6px 18px; }"
                   "QPushButton:focus { border: 2px solid rgb(%2, %2, %2); }"
                   "QPushButton:disabled { background-color: lightgray; }")
        .arg(colour.name())
        .arg(PColors::getTextGray().red());
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
    ui_->screenBtn->setStyleSheet(buttonStyle(PColors::getBlueColor()));
    ui_->stopScreenBtn->setStyleSheet(buttonStyle(PColors::getRedColor()));
    ui_->stopScreenBtn->hide();
    setFocusProxy(ui_->screenBtn);
    codeWindow_->hide();
    connect(ui_->screenBtn, &QPushButton::clicked, this, [this](bool on) {
        if (controller_)
            controller_->clickScreen(on);
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
    return ui_->stopScreenBtn;
}
