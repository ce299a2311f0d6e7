#pragma once

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class FileOfferController;
class QLabel;
class QProgressBar;
struct FileShareOffer;
struct TransferProgress;

namespace Ui {
class FileOfferController;
}

// The window of a file offer from the TV (FileOfferController.ui): the title with the seconds left,
// who offers how many files, each file's name and size, where they will be stored, Reject and Accept.
// Once accepted, until the result, it shows the downloads instead: each file with its bar, the count
// and bytes received with the total's bar; Escape then only hides it. Main thread.
class FileShareWindow final : public QWidget {
    Q_OBJECT
public:
    explicit FileShareWindow(QWidget* parent = nullptr);
    ~FileShareWindow() override;

    // Where Reject and Accept go; nullptr: nowhere. The controller outlives the window or is unset first.
    void setController(FileOfferController* controller) { controller_ = controller; }
    // In front and centred, for the files offered by the TV named `tvName`.
    void showOffer(const QString& tvName, const FileShareOffer& offer, int64_t secondsRemaining);
    void showCountdown(int64_t secondsRemaining);
    // The accepted offer's downloads; a new offer's first brings the window up, later ones leave it
    // hidden once the user hid it.
    void showProgress(const TransferProgress& downloads);
    bool showsProgress() const { return !rows_.empty(); }

private:
    struct Row {
        QLabel* caption;
        QProgressBar* bar;
        // What the caption says beside the name: the size once known, or the failure.
        bool sized;
        bool failed;
    };
    void showRows(const TransferProgress& downloads);

    std::unique_ptr<Ui::FileOfferController> ui_;
    FileOfferController* controller_ = nullptr;
    // One per file while the downloads show; empty while the window asks.
    std::vector<Row> rows_;
};
