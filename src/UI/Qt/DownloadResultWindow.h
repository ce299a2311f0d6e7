#pragma once

#include <QWidget>

#include <filesystem>
#include <memory>

class FileOfferController;

namespace Ui {
class DownloadResultWindow;
}

// The result of a file offer (DownloadResultWindow.ui): how many files were stored and failed, a
// button that closes it and one that opens the download folder. Main thread.
class DownloadResultWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DownloadResultWindow(QWidget* parent = nullptr);
    ~DownloadResultWindow() override;

    // Where the buttons go; nullptr: nowhere. The controller outlives the window or is unset first.
    void setController(FileOfferController* controller) { controller_ = controller; }
    // In front and centred; the folder button usable only when a file was stored.
    void showResult(int stored, int failed);

    // Opens the desktop's file viewer on the folder; false when none could be started.
    static bool openFolder(const std::filesystem::path& folder);

private:
    std::unique_ptr<Ui::DownloadResultWindow> ui_;
    FileOfferController* controller_ = nullptr;
};
