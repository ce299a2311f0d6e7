#include "UI/Qt/FileViewItem.h"

#include "FileShare/FileViewItemDelegate.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/TransferBar.h"
#include "UI/Qt/UiText.h"
#include "ui_FileViewItem.h"

namespace {
constexpr QSize kTickSize{20, 20};
}

FileViewItem::FileViewItem(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::FileViewItem>())
{
    ui_->setupUi(this);
    ui_->uploadBtn->setIcon(Images::icon("AddFile"));
    ui_->uploadBtn->setToolTip(UiText::localized("STRING_ADD_FILE"));
    ui_->uploadText->setText(UiText::localized("STRING_ADD_FILE"));
    ui_->uploadBtn->hide();
    ui_->copyProgress->hide();
    // The tick shows the picture's state and is part of it: a click on the tick ticks the file.
    ui_->selectImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QWidget* clickable : {static_cast<QWidget*>(ui_->fileImageBtn), static_cast<QWidget*>(ui_->uploadBtn),
                               static_cast<QWidget*>(ui_->uploadText)})
        clickable->setCursor(Qt::PointingHandCursor);
    connect(ui_->fileImageBtn, &QPushButton::toggled, this, &FileViewItem::selectFile);
    connect(ui_->uploadBtn, &QPushButton::clicked, this, &FileViewItem::addRequested);
    connect(ui_->uploadText, &QPushButton::clicked, this, &FileViewItem::addRequested);
}

FileViewItem::~FileViewItem() = default;

void FileViewItem::showAddTile()
{
    ui_->fileImageBtn->hide();
    ui_->selectImage->hide();
    ui_->fileName->hide();
    ui_->uploadBtn->show();
    ui_->uploadText->show();
}

void FileViewItem::showFile(const FileMessage& file, const QPixmap& picture)
{
    file_ = file;
    ui_->uploadBtn->hide();
    ui_->uploadText->hide();
    ui_->fileName->setText(UiText::of(file.showName));
    ui_->fileName->setToolTip(UiText::of(file.fileName));
    ui_->fileImageBtn->setIcon(QIcon(picture));
    {
        const QSignalBlocker quiet(ui_->fileImageBtn);
        ui_->fileImageBtn->setChecked(false);
    }
    ui_->selectImage->setPixmap(Images::pixmap("UnCheck", kTickSize));
    ui_->fileImageBtn->show();
    ui_->selectImage->show();
    ui_->fileName->show();
}

void FileViewItem::showProgress(const TransferProgress::File* copy)
{
    ui_->copyProgress->setVisible(copy != nullptr);
    if (!copy)
        return;
    TransferBar::show(*ui_->copyProgress, *copy);
    ui_->copyProgress->setToolTip(UiText::of(TransferBar::caption(*copy)));
}

bool FileViewItem::isTicked() const
{
    return ui_->fileImageBtn->isChecked();
}

void FileViewItem::selectFile(bool on)
{
    ui_->selectImage->setPixmap(Images::pixmap(on ? "Check" : "UnCheck", kTickSize));
    if (!delegate_)
        return;
    if (on)
        delegate_->selectFile(file_);
    else
        delegate_->unselectFile(file_);
}
