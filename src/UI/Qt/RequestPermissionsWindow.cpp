#include "UI/Qt/RequestPermissionsWindow.h"

#include "UI/Qt/HelpPopover.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "UI/RequestPermissionsWindowController.h"
#include "ui_RequestPermissionsWindowController.h"

#include <QCloseEvent>

RequestPermissionsWindow::RequestPermissionsWindow(const Permissions& permissions, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::RequestPermissionsWindowController>()),
      controller_(std::make_unique<RequestPermissionsWindowController>(*this, permissions))
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_TITLEBAR"));
    ui_->toolBarTitle->setText(UiText::localized("STRING_TITLEBAR"));
    ui_->statementContent->setText(UiText::localized("STRING_STATEMENT_CONTENT"));
    ui_->AccessibilityButton->setText(UiText::localized("STRING_ACCESSIBILITY_TITLE"));
    ui_->MicrophoneButton->setText(UiText::localized("STRING_MICROPHONE_TITLE"));
    ui_->ScreenRecordingButton->setText(UiText::localized("STRING_RECORDING_TITLE"));
    ui_->InputMonitoringButton->setText(UiText::localized("STRING_MONITORING_TITLE"));
    ui_->privacyPageText->hide();
    // Its popover reports to nobody: there is no session in this run.
    helpPopover_ = new HelpPopover(this);
    HelpPopover::dressButton(*ui_->helpButton);
    connect(ui_->helpButton, &QToolButton::clicked, this, [this] { helpPopover_->showAt(*ui_->helpButton); });
    connect(ui_->AccessibilityButton, &QPushButton::clicked, this, [this] { controller_->accessibilityButton(); });
    connect(ui_->MicrophoneButton, &QPushButton::clicked, this, [this] { controller_->microphoneButton(); });
    connect(ui_->ScreenRecordingButton, &QPushButton::clicked, this, [this] { controller_->screenRecordingButton(); });
    controller_->windowDidLoad();
}

RequestPermissionsWindow::~RequestPermissionsWindow() = default;

QPushButton* RequestPermissionsWindow::button(PermissionButton which) const
{
    switch (which) {
    case PermissionButton::Accessibility:
        return ui_->AccessibilityButton;
    case PermissionButton::Microphone:
        return ui_->MicrophoneButton;
    case PermissionButton::ScreenRecording:
        return ui_->ScreenRecordingButton;
    case PermissionButton::InputMonitoring:
        return ui_->InputMonitoringButton;
    }
    return ui_->InputMonitoringButton;
}

void RequestPermissionsWindow::hidePermissionButton(PermissionButton which)
{
    button(which)->hide();
}

void RequestPermissionsWindow::showPrivacyPage(const std::string& explanation)
{
    ui_->privacyPageText->setText(UiText::of(explanation));
    ui_->privacyPageText->show();
}

void RequestPermissionsWindow::closeOtherWindows()
{
    TopLevelWindows::closeAllBut(*this);
}

void RequestPermissionsWindow::closeEvent(QCloseEvent* event)
{
    controller_->windowWillClose();
    QMainWindow::closeEvent(event);
}
