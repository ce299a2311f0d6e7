#include "UI/Qt/DownloadResultWindow.h"

#include "Session/FileOfferController.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "ui_DownloadResultWindow.h"

#include <QDesktopServices>
#include <QUrl>

#include <string>

DownloadResultWindow::DownloadResultWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui_(std::make_unique<Ui::DownloadResultWindow>())
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_FILE_SHARE_TITLE"));
    ui_->knowBtn->setText(UiText::localized("STRING_OK"));
    ui_->detailsBtn->setText(UiText::localized("STRING_SHOW_DETAILS"));
    ui_->knowBtn->setStyleSheet(ButtonStyle::filled(PColors::getTextGray()));
    ui_->detailsBtn->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    forwardClicks(ui_->knowBtn, this, controller_, &FileOfferController::closeDownloadSuccessWindow);
    forwardClicks(ui_->detailsBtn, this, controller_, &FileOfferController::openDownloadDetails);
    TopLevelWindows::onEscape(*this, [this] { ui_->knowBtn->click(); });
}

DownloadResultWindow::~DownloadResultWindow() = default;

void DownloadResultWindow::showResult(int stored, int failed)
{
    const std::string failedText = std::to_string(failed);
    const std::string text = stored > 0
                                 ? LocalizedText::format("STRING_DOWNLOAD_RESULT", {std::to_string(stored), failedText})
                                 : LocalizedText::format("STRING_DOWNLOAD_FAIL_RESULT", {failedText});
    ui_->downloadResultText->setText(UiText::of(text));
    ui_->detailsBtn->setEnabled(stored > 0);
    TopLevelWindows::showCentred(*this);
}

bool DownloadResultWindow::openFolder(const std::filesystem::path& folder)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}
