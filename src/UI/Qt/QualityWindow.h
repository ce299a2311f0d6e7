#pragma once

#include "UI/QualityWindowView.h"

#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QualityWindowController;

namespace Ui {
class QualityWindowController;
}

// The quality picker's window (QualityWindowController.ui): four choices with check marks, OK and
// Cancel; its close box counts as Cancel. Main thread.
class QualityWindow final : public QWidget, public QualityWindowView {
    Q_OBJECT
public:
    explicit QualityWindow(QWidget* parent = nullptr);
    ~QualityWindow() override;

    // Where the window's actions go; nullptr: nowhere. A controller given here marks its choice.
    void setController(QualityWindowController* controller);

    // QualityWindowView
    void showCheckMark(size_t index) override;
    void showWindow() override;
    void closeWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::QualityWindowController> ui_;
    std::array<QLabel*, 4> checkMarks_{};
    QualityWindowController* controller_ = nullptr;
};
