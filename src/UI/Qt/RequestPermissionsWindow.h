#pragma once

#include "UI/RequestPermissionsView.h"

#include <QMainWindow>

#include <memory>

class HelpPopover;
class Permissions;
class QPushButton;
class RequestPermissionsWindowController;

namespace Ui {
class RequestPermissionsWindowController;
}

// The permissions window (RequestPermissionsWindowController.ui), shown instead of the main window in
// a run that cannot cast: a button per missing permission, the explanation each one leads to, and the
// settings popover on its help button. Closing it closes every other window. Main thread.
class RequestPermissionsWindow final : public QMainWindow, public RequestPermissionsView {
    Q_OBJECT
public:
    // The permissions must outlive the window.
    explicit RequestPermissionsWindow(const Permissions& permissions, QWidget* parent = nullptr);
    ~RequestPermissionsWindow() override;

    RequestPermissionsWindowController& controller() { return *controller_; }

    // RequestPermissionsView
    void hidePermissionButton(PermissionButton button) override;
    void showPrivacyPage(const std::string& explanation) override;
    void closeOtherWindows() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* button(PermissionButton which) const;

    std::unique_ptr<Ui::RequestPermissionsWindowController> ui_;
    HelpPopover* helpPopover_ = nullptr;
    std::unique_ptr<RequestPermissionsWindowController> controller_;
};
