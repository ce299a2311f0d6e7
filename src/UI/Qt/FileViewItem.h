#pragma once

#include "FileShare/FileMessage.h"
#include "FileShare/TransferProgress.h"

#include <QWidget>

#include <memory>

class FileViewItemDelegate;

namespace Ui {
class FileViewItem;
}

// One tile of the file panel (FileViewItem.ui): either the add tile, whose button and text ask for
// files, or a file's tile, whose picture is a two-state button that ticks the file. Main thread.
class FileViewItem final : public QWidget {
    Q_OBJECT
public:
    explicit FileViewItem(QWidget* parent = nullptr);
    ~FileViewItem() override;

    // Where ticks go; nullptr: nowhere. The delegate outlives the tile or is unset first.
    void setDelegate(FileViewItemDelegate* delegate) { delegate_ = delegate; }
    void showAddTile();
    // Unticked, with the file's short name under its picture.
    void showFile(const FileMessage& file, const QPixmap& picture);
    // The file's copy for the TV under its name; null: none since the panel was emptied.
    void showProgress(const TransferProgress::File* copy);
    const FileMessage& file() const { return file_; }
    bool isTicked() const;

Q_SIGNALS:
    // The add tile's button or text was pressed.
    void addRequested();

private:
    void selectFile(bool on);

    std::unique_ptr<Ui::FileViewItem> ui_;
    FileViewItemDelegate* delegate_ = nullptr;
    FileMessage file_;
};
