#pragma once

#include <QWidget>

#include <memory>
#include <string>

class MainWindowController;

namespace Ui {
class RoziTipWindow;
}

// The relay's tip window (RoziTipWindow.ui): the TV's camera or microphone error as text and the button
// that dismisses it through the session controller. Main thread.
class RoziTipWindow final : public QWidget {
    Q_OBJECT
public:
    explicit RoziTipWindow(QWidget* parent = nullptr);
    ~RoziTipWindow() override;

    // Where the button goes; nullptr: it only hides the window. The controller outlives the window or is
    // unset first.
    void setController(MainWindowController* controller) { controller_ = controller; }
    // In front and centred with the text.
    void showWithText(const std::string& text);
    std::string text() const;

private:
    std::unique_ptr<Ui::RoziTipWindow> ui_;
    MainWindowController* controller_ = nullptr;
};
