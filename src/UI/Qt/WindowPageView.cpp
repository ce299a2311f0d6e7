#include "UI/Qt/WindowPageView.h"

#include "Session/MainWindowController.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/SpinAnimation.h"
#include "UI/Qt/UiText.h"
#include "UI/Qt/WindowPicker.h"
#include "Session/WindowCastController.h"
#include "ui_WindowCastController.h"

#include <QVBoxLayout>

WindowPageView::WindowPageView(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::WindowCastController>())
{
    ui_->setupUi(this);
    auto* holder = new QVBoxLayout(parent);
    holder->setContentsMargins(0, 0, 0, 0);
    holder->addWidget(this);
    auto* pickerLayout = new QVBoxLayout(ui_->pickerHolder);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    picker_ = new WindowPicker(ui_->pickerHolder);
    pickerLayout->addWidget(picker_);
    ui_->choseLabel->setText(UiText::localized("STRING_CHOSE_CONTENT"));
    ui_->refreshWindowBtn->setIcon(Images::icon("Refresh"));
    ui_->refreshWindowBtn->setToolTip(UiText::localized("STRING_REFRESH_WINDOWS"));
    // Only the picture turns: the list refreshes on the picker's own poll.
    refreshSpin_ = new SpinAnimation(ui_->refreshWindowBtn, SpinAnimation::kRefreshTurn, 1, this);
    connect(ui_->refreshWindowBtn, &QToolButton::clicked, refreshSpin_, &SpinAnimation::start);
    ui_->backBtn->setText(UiText::localized("STRING_BACK"));
    ui_->backBtn->setStyleSheet(ButtonStyle::filled(PColors::getTextGray()));
    showWindowStartButton(WindowCastView::WindowStartButton::Disabled);
    forwardClicks(ui_->backBtn, this, controller_, [](MainWindowController& c) { c.windowCast().goBack(); });
    forwardClicks(ui_->windowStartBtn, this, controller_,
                  [](MainWindowController& c) { c.windowCast().clickStartWindowScreen(); });
}

WindowPageView::~WindowPageView() = default;

void WindowPageView::setController(MainWindowController* controller)
{
    controller_ = controller;
    picker_->setPicker(controller ? &controller->windowCast().picker() : nullptr);
}

void WindowPageView::showWindowStartButton(WindowCastView::WindowStartButton state)
{
    using Button = WindowCastView::WindowStartButton;
    const bool stop = state == Button::Stop;
    ui_->windowStartBtn->setEnabled(state != Button::Disabled);
    ui_->windowStartBtn->setText(UiText::localized(stop ? "STRING_STOP" : "STRING_START"));
    ui_->windowStartBtn->setStyleSheet(ButtonStyle::filled(stop ? PColors::getRedColor() : PColors::getBlueColor()));
}
