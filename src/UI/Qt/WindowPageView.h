#pragma once

#include "Session/WindowCastView.h"

#include <QWidget>

#include <memory>

class MainWindowController;
class SpinAnimation;
class WindowPicker;

namespace Ui {
class WindowCastController;
}

// The window page: its title with the refresh button, the picker, the back button and windowStartBtn. Shows what WindowCastController
// decides about the start button and hands the buttons' actions to the controller. Main thread.
class WindowPageView final : public QWidget {
    Q_OBJECT
public:
    // Fills parent, which has no layout yet.
    explicit WindowPageView(QWidget* parent);
    ~WindowPageView() override;

    // Where the actions go and whose picker shows; nullptr: nowhere. The controller outlives the
    // page or is unset before it goes.
    void setController(MainWindowController* controller);
    void showWindowStartButton(WindowCastView::WindowStartButton state);

    WindowPicker& picker() const { return *picker_; }
    // The refresh button's turn.
    SpinAnimation* refreshSpin() const { return refreshSpin_; }

private:
    std::unique_ptr<Ui::WindowCastController> ui_;
    WindowPicker* picker_ = nullptr;
    SpinAnimation* refreshSpin_ = nullptr;
    MainWindowController* controller_ = nullptr;
};
