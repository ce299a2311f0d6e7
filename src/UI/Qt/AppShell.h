#pragma once

#include "App/AppDelegate.h"
#include "App/AppShellView.h"
#include "UI/Qt/CursorBlinkPause.h"

#include <QObject>
#include <QPointer>

#include <memory>

class MainWindow;
class MainWindowController;
class QAction;
class QMainWindow;
class QSocketNotifier;
class QSystemTrayIcon;
class QtKeyboardMonitor;
class SignalPipe;

// The application's shell on Qt: owns the delegate and the run's window, puts the quit entry in the
// system tray (or, with no tray, in the window's menu), and turns SIGINT and SIGTERM, the last
// window's close and the application's end into the delegate's calls. Main thread, made after the
// QApplication and the main queue's loop.
class AppShell final : public QObject, public AppShellView {
public:
    explicit AppShell(AppDelegate::Services services);
    // Takes the key monitor from the key forwarder, then destroys the session controller before its window.
    ~AppShell() override;

    // The application has started: the delegate's launch.
    void start();

    AppDelegate& delegate() { return *delegate_; }
    MainWindow* mainWindow() const { return mainWindow_.get(); }
    MainWindowController* mainWindowController() const { return controller_.get(); }
    QMainWindow* permissionsWindow() const { return permissionsWindow_.get(); }

    // AppShellView
    void installStatusItem(const std::string& quitTitle) override;
    void showMainWindow(SessionServices services) override;
    void showPermissionsWindow(const Permissions& permissions) override;
    void activate() override;
    void terminate() override;

private:
    void watchSignals();
    // Centres the run's window, without a zoom button, gives it the quit menu where no tray exists,
    // and brings it to the front.
    void present(QMainWindow& window);
    // The main window closes: every other window goes with it.
    void mainWindowWillClose();

    std::unique_ptr<AppDelegate> delegate_;
    std::unique_ptr<SignalPipe> signalPipe_;
    QSocketNotifier* signalNotifier_ = nullptr;
    QAction* quitAction_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    // The key forwarder listens on it while the TV-screen window has control.
    std::unique_ptr<QtKeyboardMonitor> keyboardMonitor_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::unique_ptr<MainWindowController> controller_;
    std::unique_ptr<QMainWindow> permissionsWindow_;
    CursorBlinkPause cursorBlink_;
};
