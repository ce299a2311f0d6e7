#include "UI/Qt/DeviceNameWindow.h"

#include "UI/MainWindowController.h"
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
    connect(ui_->inputDeviceNameButton, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->inputDeviceNameButton(ui_->deviceNameTextField->text().toStdString());
    });
    connect(ui_->cancelDeviceNameButton, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->cancelDeviceNameButton();
    });
}

DeviceNameWindow::~DeviceNameWindow() = default;

void DeviceNameWindow::showWithPlaceholder(const std::string& placeholder)
{
    ui_->deviceNameTextField->setPlaceholderText(UiText::of(placeholder));
    TopLevelWindows::showCentred(*this);
}
