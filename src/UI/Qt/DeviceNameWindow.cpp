#include "UI/Qt/DeviceNameWindow.h"

#include "Session/MainWindowController.h"
#include "Session/SendersController.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_DeviceNameWindow.h"

DeviceNameWindow::DeviceNameWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::DeviceNameWindow>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_DEVICE_NAME"));
    ui_->deviceNameTitle->setText(UiText::localized("STRING_DEVICE_NAME_TITLE"));
    ui_->inputDeviceNameButton->setText(UiText::localized("STRING_OK"));
    ui_->cancelDeviceNameButton->setText(UiText::localized("STRING_CANCEL"));
    forwardClicks(ui_->inputDeviceNameButton, this, controller_, [this](MainWindowController& controller) {
        controller.senders().inputDeviceNameButton(ui_->deviceNameTextField->text().toStdString());
    });
    forwardClicks(ui_->cancelDeviceNameButton, this, controller_,
                  [](MainWindowController& c) { c.senders().cancelDeviceNameButton(); });
    connect(ui_->deviceNameTextField, &QLineEdit::returnPressed, ui_->inputDeviceNameButton, &QPushButton::click);
    TopLevelWindows::onEscape(*this, [this] { ui_->cancelDeviceNameButton->click(); });
}

DeviceNameWindow::~DeviceNameWindow() = default;

void DeviceNameWindow::showWithPlaceholder(const std::string& placeholder)
{
    ui_->deviceNameTextField->setPlaceholderText(UiText::of(placeholder));
    TopLevelWindows::showCentred(*this);
    ui_->deviceNameTextField->setFocus();
}
