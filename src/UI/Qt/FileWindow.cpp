#include "UI/Qt/FileWindow.h"

#include "FileShare/FileCollectionView.h"
#include "Session/FileWindowController.h"
#include "Session/MainWindowController.h"
#include "UI/Qt/ButtonStyle.h"
#include "UI/Qt/FileViewItem.h"
#include "UI/Qt/GlobalPopWindow.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/ToastView.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/TransferBar.h"
#include "UI/Qt/UiText.h"
#include "Utils/LocalizedText.h"
#include "ui_FileCollectionView.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QTimer>

#include <chrono>

namespace {

std::vector<std::filesystem::path> openFileDialog(QWidget& parent)
{
    std::vector<std::filesystem::path> paths;
    for (const QString& name : QFileDialog::getOpenFileNames(&parent, UiText::localized("STRING_CHOOSE_FILES")))
        paths.emplace_back(name.toStdString());
    return paths;
}

}

FileWindow::FileWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::FileCollectionView>()), chooser_(openFileDialog)
{
    ui_->setupUi(this);
    setWindowTitle(UiText::localized("STRING_FILE_TITLE"));
    ui_->fileToolBarText->setText(UiText::localized("STRING_FILE_TITLE"));
    ui_->deleteBtn->setText(UiText::localized("STRING_DELETE"));
    ui_->pushBtn->setText(UiText::localized("STRING_PUSH"));
    for (QPushButton* button : {ui_->deleteBtn, ui_->pushBtn})
        button->setStyleSheet(ButtonStyle::filled(PColors::getBlueColor()));
    ui_->flowLayout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setButtonsEnabled(false);
    showFiles({}, nullptr);
    showPushProgress(TransferProgress{});
    connect(ui_->deleteBtn, &QPushButton::clicked, this, [this] {
        if (FileCollectionView* panel = this->panel())
            panel->deleteFile();
    });
    connect(ui_->pushBtn, &QPushButton::clicked, this, [this] {
        if (FileCollectionView* panel = this->panel())
            panel->pushFile();
    });
    TopLevelWindows::onEscape(*this, [this] { close(); });
}

FileWindow::~FileWindow() = default;

void FileWindow::setController(MainWindowController* controller)
{
    controller_ = controller;
    // The panel is made on its first use, not here; without a controller no tile may keep its panel.
    if (!controller_)
        showFiles({}, nullptr);
}

FileCollectionView* FileWindow::panel() const
{
    return controller_ ? &controller_->fileWindow().panel() : nullptr;
}

void FileWindow::showFileInfoWindow()
{
    TopLevelWindows::showCentred(*this);
}

void FileWindow::reloadData()
{
    if (FileCollectionView* panel = this->panel()) {
        showFiles(panel->fileArray(), panel);
        showPushProgress(panel->pushProgress());
    }
}

void FileWindow::showPushProgress(const TransferProgress& push)
{
    for (size_t index = 1; index < tiles_.size(); ++index)
        tiles_[index]->showProgress(push.find(tiles_[index]->file().fileId));
    ui_->pushProgressText->setVisible(!push.files.empty());
    ui_->pushProgress->setVisible(!push.files.empty());
    if (push.files.empty())
        return;
    const std::string count = std::to_string(push.files.size());
    const std::string failed = std::to_string(push.failed());
    std::string text;
    if (push.unfinished() > 0)
        text = LocalizedText::format("STRING_PUSH_PROGRESS", {std::to_string(push.files.size() - push.unfinished()), count,
                                                              UiText::dataSize(push.doneBytes()),
                                                              UiText::dataSize(push.totalBytes())});
    else if (push.failed() == 0)
        text = LocalizedText::format("STRING_PUSH_READY", {count});
    else
        text = LocalizedText::format("STRING_PUSH_READY_FAILED", {std::to_string(push.files.size() - push.failed()), failed});
    ui_->pushProgressText->setText(UiText::of(text));
    TransferBar::showTotal(*ui_->pushProgress, push);
}

void FileWindow::showFiles(const std::vector<FileMessage>& files, FileViewItemDelegate* delegate)
{
    // Later: a reload may come while a tile's click is being handled.
    for (FileViewItem* tile : tiles_) {
        tile->hide();
        tile->deleteLater();
    }
    tiles_.clear();
    thumbnails_.keepOnly(files);
    addTile(0)->showAddTile();
    for (size_t index = 0; index < files.size(); ++index) {
        FileViewItem* tile = addTile(index + 1);
        tile->setDelegate(delegate);
        tile->showFile(files[index], thumbnails_.thumbnail(files[index]));
    }
}

FileViewItem* FileWindow::addTile(size_t index)
{
    auto* tile = new FileViewItem(ui_->collectionView);
    tile->setObjectName(QString("FileViewItem%1").arg(index));
    connect(tile, &FileViewItem::addRequested, this, [this] {
        // As its own event, so the click has ended before the dialog runs.
        QTimer::singleShot(0, this, &FileWindow::chooseFiles);
    });
    const int position = static_cast<int>(index);
    ui_->flowLayout->addWidget(tile, position / kColumns, position % kColumns);
    tiles_.push_back(tile);
    return tile;
}

void FileWindow::chooseFiles()
{
    for (const std::filesystem::path& path : chooser_(*this))
        if (FileCollectionView* panel = this->panel())
            panel->selectFileCallBack(path);
}

void FileWindow::setButtonsEnabled(bool enabled)
{
    ui_->deleteBtn->setEnabled(enabled);
    ui_->pushBtn->setEnabled(enabled);
}

void FileWindow::showPushFailure(const std::string& reason)
{
    auto* box = new QMessageBox(QMessageBox::Warning, UiText::localized("STRING_TIP"), UiText::of(reason),
                                QMessageBox::Ok, this);
    box->setObjectName("pushFailure");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void FileWindow::showPushReceived(const std::string& message)
{
    if (auto* earlier = findChild<ToastView*>("pushReceived"))
        earlier->closeToast();
    auto* toast = new ToastView(UiText::of(message), true, this);
    toast->setObjectName("pushReceived");
    // Centred near the grid's bottom edge, clear of the push's progress and the buttons below it.
    const QRect grid = ui_->scrollView->geometry();
    toast->move((width() - toast->width()) / 2, grid.bottom() - toast->height() - 16);
    toast->show();
    toast->raise();
    QTimer::singleShot(std::chrono::seconds(5), toast, &ToastView::closeToast);
}

void FileWindow::askToReplace(std::function<void()> replace)
{
    if (!replacePopWindow_)
        replacePopWindow_ = new GlobalPopWindow(UiText::localized("STRING_REPLACE_FILE_TITLE"),
                                                UiText::localized("STRING_REPLACE_FILE_CONTENT"),
                                                UiText::localized("STRING_OK"), UiText::localized("STRING_CANCEL"), this);
    replacePopWindow_->setNormalButtonBlock(std::move(replace));
    replacePopWindow_->showWindow();
}
