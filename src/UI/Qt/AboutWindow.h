#pragma once

#include "Update/AboutWindowController.h"
#include "Update/AboutWindowView.h"

#include <QWidget>

#include <memory>

namespace Ui {
class AboutWindowController;
}

// The about window (AboutWindowController.ui): the version line, the state line, the download's bar
// and percentage, an error line, OK and Cancel. It makes its rules with the given services; its
// close box only closes it, as Cancel does. Main thread.
class AboutWindow final : public QWidget, public AboutWindowView {
    Q_OBJECT
public:
    AboutWindow(QWidget* parent, AboutWindowController::Services services);
    ~AboutWindow() override;

    AboutWindowController& controller() { return *controller_; }

    // AboutWindowView
    void render(const AboutWindowLook& look) override;
    void showWindow() override;
    void closeWindow() override;

private:
    std::unique_ptr<Ui::AboutWindowController> ui_;
    std::unique_ptr<AboutWindowController> controller_;
};
