#pragma once

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <memory>

class FileOfferController;
struct FileShareOffer;

namespace Ui {
class FileOfferController;
}

// The window of a file offer from the TV (FileOfferController.ui): the title with the seconds left,
// who offers how many files, each file's name and size, where they will be stored, Reject and Accept.
// Main thread.
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

private:
    std::unique_ptr<Ui::FileOfferController> ui_;
    FileOfferController* controller_ = nullptr;
};
