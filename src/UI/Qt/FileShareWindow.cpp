#include "UI/Qt/FileShareWindow.h"

#include "Session/FileOfferController.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_FileOfferController.h"

#include <string>

FileShareWindow::FileShareWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::FileOfferController>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_FILE_SHARE_TITLE"));
    ui_->downloadLocationTip->setText(UiText::localized("STRING_FILE_SHARE_TIP"));
    ui_->rejectBtn->setText(UiText::localized("STRING_FILE_SHARE_REJECT"));
    ui_->agreeBtn->setText(UiText::localized("STRING_FILE_SHARE_AGREE"));
    ui_->rejectBtn->setStyleSheet(ButtonStyle::filled(PColors::getTextGray()));
    ui_->agreeBtn->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    forwardClicks(ui_->rejectBtn, this, controller_, &FileOfferController::rejectFileShare);
    forwardClicks(ui_->agreeBtn, this, controller_, &FileOfferController::agreeFileShare);
    // Escape declines, as Reject does.
    TopLevelWindows::onEscape(*this, [this] { ui_->rejectBtn->click(); });
}

FileShareWindow::~FileShareWindow() = default;

void FileShareWindow::showOffer(const QString& tvName, size_t fileCount, int64_t secondsRemaining)
{
    const std::string name = tvName.toStdString();
    const std::string count = std::to_string(fileCount);
    ui_->fileShareText->setText(UiText::of(LocalizedText::format("STRING_FIEL_SHARE_TEXT", {name, count})));
    showCountdown(secondsRemaining);
    TopLevelWindows::showCentred(*this);
}

void FileShareWindow::showCountdown(int64_t secondsRemaining)
{
    const std::string title = LocalizedText::text("STRING_FILE_SHARE_TITLE");
    ui_->timeTitle->setText(
        UiText::of(LocalizedText::format("STRING_FILE_SHARE_COUNTDOWN", {title, std::to_string(secondsRemaining)})));
}
