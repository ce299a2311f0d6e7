#include "UI/Qt/FileShareWindow.h"

#include "Session/FileOfferController.h"
#include "Socket/FileShareOffer.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_FileOfferController.h"

#include <QLocale>

#include <algorithm>
#include <limits>
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

void FileShareWindow::showOffer(const QString& tvName, const FileShareOffer& offer, int64_t secondsRemaining)
{
    const std::string name = tvName.toStdString();
    const std::string count = std::to_string(offer.fileCount());
    ui_->fileShareText->setText(UiText::of(LocalizedText::format("STRING_FIEL_SHARE_TEXT", {name, count})));
    ui_->offeredFiles->clear();
    for (const auto& file : offer.files) {
        const std::string size = file.size ? QLocale::c().formattedDataSize(static_cast<qint64>(
                                                 std::min<uint64_t>(*file.size, std::numeric_limits<qint64>::max())))
                                                 .toStdString()
                                           : LocalizedText::text("STRING_OFFERED_FILE_NO_SIZE");
        ui_->offeredFiles->addItem(UiText::of(LocalizedText::format("STRING_OFFERED_FILE", {file.name, size})));
    }
    ui_->offeredFiles->setVisible(!offer.files.empty());
    showCountdown(secondsRemaining);
    TopLevelWindows::showCentred(*this);
}

void FileShareWindow::showCountdown(int64_t secondsRemaining)
{
    const std::string title = LocalizedText::text("STRING_FILE_SHARE_TITLE");
    ui_->timeTitle->setText(
        UiText::of(LocalizedText::format("STRING_FILE_SHARE_COUNTDOWN", {title, std::to_string(secondsRemaining)})));
}
