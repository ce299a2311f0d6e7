#pragma once

#include "FileShare/FilePanelView.h"
#include "Session/FileWindowView.h"
#include "UI/Qt/FileThumbnails.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class FileCollectionView;
class FileViewItem;
class FileViewItemDelegate;
class GlobalPopWindow;
class MainWindowController;

namespace Ui {
class FileCollectionView;
}

// The file window (FileCollectionView.ui): the file panel's grid of FileViewItem tiles, the add tile
// first, with the delete and push buttons and the replace question; the panel's rules decide, this
// shows and hands them the user's input. Main thread.
class FileWindow final : public QWidget, public FileWindowView, public FilePanelView {
    Q_OBJECT
public:
    static constexpr int kColumns = 5;
    // What the add tile asks for: the chosen files, in order; none when the user cancels.
    using FileChooser = std::function<std::vector<std::filesystem::path>(QWidget& parent)>;

    explicit FileWindow(QWidget* parent = nullptr);
    ~FileWindow() override;

    // Whose panel is shown and told; nullptr: none. The controller outlives the window or is unset first.
    void setController(MainWindowController* controller);
    // Replaces the file dialog (tests).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // The tiles on show, the add tile first.
    const std::vector<FileViewItem*>& tiles() const { return tiles_; }

    // FileWindowView
    bool isFileInfoWindowVisible() const override { return isVisible(); }
    void showFileInfoWindow() override;
    void closeFileInfoWindow() override { close(); }
    FilePanelView& filePanel() override { return *this; }

    // FilePanelView
    void reloadData() override;
    void setButtonsEnabled(bool enabled) override;
    void askToReplace(std::function<void()> replace) override;
    void showPushFailure(const std::string& reason) override;
    void showPushReceived(const std::string& message) override;
    void showPushProgress(const TransferProgress& push) override;

private:
    FileCollectionView* panel() const;
    void showFiles(const std::vector<FileMessage>& files, FileViewItemDelegate* delegate);
    FileViewItem* addTile(size_t index);
    void chooseFiles();

    std::unique_ptr<Ui::FileCollectionView> ui_;
    MainWindowController* controller_ = nullptr;
    FileChooser chooser_;
    std::vector<FileViewItem*> tiles_;
    FileThumbnails thumbnails_;
    // Made when first asked and kept.
    GlobalPopWindow* replacePopWindow_ = nullptr;
};
