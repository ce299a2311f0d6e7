#pragma once

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class GlobalPopWindow;
}

// A titled question with two buttons, shown in the middle of the screen. Each button runs its closure,
// when it has one, then closes the window; the texts are fixed when the window is made, the closures
// can change at any time. Main thread.
class GlobalPopWindow final : public QDialog {
    Q_OBJECT
public:
    GlobalPopWindow(const QString& title, const QString& message, const QString& normalButtonText,
                    const QString& highlightButtonText, QWidget* parent = nullptr);
    ~GlobalPopWindow() override;

    void setNormalButtonBlock(std::function<void()> block) { normalButtonBlock_ = std::move(block); }
    void setHighlightButtonBlock(std::function<void()> block) { highlightButtonBlock_ = std::move(block); }

    // Shows the window (again) in the middle of its screen.
    void showWindow();

    // The buttons' actions.
    void normalHandler();
    void highlightHandler();

private:
    void runThenClose(const std::function<void()>& block);

    std::unique_ptr<Ui::GlobalPopWindow> ui_;
    std::function<void()> normalButtonBlock_;
    std::function<void()> highlightButtonBlock_;
};
