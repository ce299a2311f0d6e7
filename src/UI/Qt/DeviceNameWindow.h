#pragma once

#include <QWidget>

#include <memory>
#include <string>

class MainWindowController;

namespace Ui {
class DeviceNameWindow;
}

// The window that renames this computer as the TV lists it (DeviceNameWindow.ui): a field with the
// login name as placeholder, OK and Cancel, both handed to the session controller. Main thread.
class DeviceNameWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DeviceNameWindow(QWidget* parent = nullptr);
    ~DeviceNameWindow() override;

    // Where OK and Cancel go; nullptr: nowhere. The controller outlives the window or is unset first.
    void setController(MainWindowController* controller) { controller_ = controller; }
    // In front and centred, the placeholder under what the field holds.
    void showWithPlaceholder(const std::string& placeholder);

private:
    std::unique_ptr<Ui::DeviceNameWindow> ui_;
    MainWindowController* controller_ = nullptr;
};
