#include "UI/Qt/FileShareWindow.h"

#include "Session/FileOfferController.h"
#include "Socket/FileShareOffer.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/TransferBar.h"
#include "UI/Qt/UiText.h"
#include "ui_FileOfferController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

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
    // Escape declines, as Reject does; once accepted, it only hides the downloads.
    TopLevelWindows::onEscape(*this, [this] {
        if (showsProgress())
            hide();
        else
            ui_->rejectBtn->click();
    });
    ui_->totalProgress->hide();
}

FileShareWindow::~FileShareWindow() = default;

void FileShareWindow::showOffer(const QString& tvName, const FileShareOffer& offer, int64_t secondsRemaining)
{
    const std::string name = tvName.toStdString();
    const std::string count = std::to_string(offer.fileCount());
    ui_->fileShareText->setText(UiText::of(LocalizedText::format("STRING_FIEL_SHARE_TEXT", {name, count})));
    rows_.clear();
    ui_->offeredFiles->clear();
    for (const auto& file : offer.files)
        ui_->offeredFiles->addItem(UiText::of(TransferBar::caption({.id = {}, .name = file.name, .size = file.size})));
    ui_->offeredFiles->setVisible(!offer.files.empty());
    ui_->totalProgress->hide();
    ui_->rejectBtn->show();
    ui_->agreeBtn->show();
    showCountdown(secondsRemaining);
    TopLevelWindows::showCentred(*this);
}

void FileShareWindow::showCountdown(int64_t secondsRemaining)
{
    const std::string title = LocalizedText::text("STRING_FILE_SHARE_TITLE");
    ui_->timeTitle->setText(
        UiText::of(LocalizedText::format("STRING_FILE_SHARE_COUNTDOWN", {title, std::to_string(secondsRemaining)})));
}

void FileShareWindow::showProgress(const TransferProgress& downloads)
{
    // Hidden by the user meanwhile, it stays hidden: only a new offer's downloads bring it up.
    const bool fresh = rows_.size() != downloads.files.size();
    if (fresh)
        showRows(downloads);
    for (size_t index = 0; index < rows_.size(); ++index) {
        const TransferProgress::File& file = downloads.files[index];
        Row& row = rows_[index];
        TransferBar::show(*row.bar, file);
        const bool failed = file.state == TransferProgress::State::Failed;
        if (row.sized != file.size.has_value() || row.failed != failed) {
            row.caption->setText(UiText::of(TransferBar::caption(file)));
            row.sized = file.size.has_value();
            row.failed = failed;
        }
    }
    const std::string received = std::to_string(downloads.files.size() - downloads.unfinished() - downloads.failed());
    ui_->fileShareText->setText(UiText::of(LocalizedText::format(
        "STRING_DOWNLOAD_PROGRESS", {received, std::to_string(downloads.files.size()), UiText::dataSize(downloads.doneBytes()),
                                     UiText::dataSize(downloads.totalBytes())})));
    TransferBar::showTotal(*ui_->totalProgress, downloads);
    if (fresh && !isVisible())
        TopLevelWindows::showCentred(*this);
}

void FileShareWindow::showRows(const TransferProgress& downloads)
{
    rows_.clear();
    ui_->offeredFiles->clear();
    for (const TransferProgress::File& file : downloads.files) {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(4, 2, 4, 2);
        auto* caption = new QLabel(UiText::of(TransferBar::caption(file)), row);
        QProgressBar* bar = TransferBar::make(row, "fileProgress");
        bar->setFixedWidth(96);
        layout->addWidget(caption, 1);
        layout->addWidget(bar);
        auto* item = new QListWidgetItem(ui_->offeredFiles);
        item->setSizeHint(row->sizeHint());
        ui_->offeredFiles->setItemWidget(item, row);
        rows_.push_back({caption, bar, file.size.has_value(), file.state == TransferProgress::State::Failed});
    }
    ui_->offeredFiles->setVisible(!rows_.empty());
    ui_->timeTitle->setText(UiText::localized("STRING_FILE_SHARE_RECEIVING"));
    ui_->rejectBtn->hide();
    ui_->agreeBtn->hide();
    ui_->totalProgress->show();
}
