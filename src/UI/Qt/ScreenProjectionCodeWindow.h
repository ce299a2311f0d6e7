#pragma once

#include <QDialog>

#include <memory>
#include <string>

class MainWindowController;

namespace Ui {
class ScreenProjectionCodeWindow;
}

// The casting-code window: the code the TV shows is typed into its field; OK (or Return) hands the
// text to the controller, Cancel (or Escape, or closing the window) drops it. Not modal: the main
// window stays usable. Main thread.
class ScreenProjectionCodeWindow final : public QDialog {
    Q_OBJECT
public:
    explicit ScreenProjectionCodeWindow(QWidget* parent = nullptr);
    ~ScreenProjectionCodeWindow() override;

    // Where OK and Cancel go; nullptr: nowhere.
    void setController(MainWindowController* controller) { controller_ = controller; }

    // In front as the key window, centred on the screen, the field focused.
    void showInFront();
    void setCastingCodeText(const std::string& text);
    std::string castingCodeText() const;
    // The error under the field; empty hides it.
    void showError(const std::string& error);
    std::string errorText() const;

private:
    void centre();

    std::unique_ptr<Ui::ScreenProjectionCodeWindow> ui_;
    MainWindowController* controller_ = nullptr;
};
