#include "UI/Qt/AppShell.h"

#include "UI/Qt/Images.h"

#include "Platform/SignalPipe.h"
#include "Platform/X11WindowActivation.h"
#include "UI/KeycodeConverter.h"
#include "Session/MainWindowController.h"
#include "UI/Qt/MainWindow.h"
#include "UI/Qt/QtKeyboardMonitor.h"
#include "UI/Qt/RequestPermissionsWindow.h"
#include "UI/Qt/TopLevelWindows.h"
#include "UI/Qt/UiText.h"
#include "Utils/Log.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <csignal>

AppShell::AppShell(AppDelegate::Services services)
    : delegate_(std::make_unique<AppDelegate>(*this, std::move(services)))
{
    // The last window's close goes through the delegate, which restores and clears before the end.
    qApp->setQuitOnLastWindowClosed(false);
    connect(qApp, &QGuiApplication::lastWindowClosed, this, [this] {
        if (delegate_->applicationShouldTerminateAfterLastWindowClosed())
            terminate();
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { delegate_->applicationWillTerminate(); });
    watchSignals();
}

AppShell::~AppShell()
{
    // The window's views hold the controller as their delegate: they let go before it goes.
    if (mainWindow_)
        mainWindow_->setController(nullptr);
    if (keyboardMonitor_)
        KeycodeConverter::sharedManager().setKeyboardMonitor(nullptr);
}

void AppShell::watchSignals()
{
    signalPipe_ = std::make_unique<SignalPipe>(std::vector<int>{SIGINT, SIGTERM});
    if (!signalPipe_->valid()) {
        PLOG("SIGINT and SIGTERM will end the application without its quit road");
        return;
    }
    signalNotifier_ = new QSocketNotifier(signalPipe_->readFd(), QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
        for (const int signal : signalPipe_->takeSignals())
            delegate_->terminationSignal(signal);
    });
}

void AppShell::start()
{
    delegate_->applicationDidFinishLaunching();
}

void AppShell::installStatusItem(const std::string& quitTitle)
{
    quitAction_ = new QAction(QString::fromStdString(quitTitle), this);
    quitAction_->setObjectName("menuTitle");
    // The desktop's quit keys, as the quit entry has them on other systems.
    quitAction_->setShortcut(QKeySequence::Quit);
    connect(quitAction_, &QAction::triggered, this, [this] { delegate_->quitPelkor(); });
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    auto* menu = new QMenu;
    menu->setObjectName("statusBarMenu");
    menu->addAction(quitAction_);
    trayIcon_ = new QSystemTrayIcon(Images::icon("StatusBarMenuImage"), this);
    trayIcon_->setContextMenu(menu);
    connect(trayIcon_, &QObject::destroyed, menu, &QObject::deleteLater);
    trayIcon_->show();
}

void AppShell::showMainWindow(SessionServices services)
{
    keyboardMonitor_ = std::make_unique<QtKeyboardMonitor>();
    KeycodeConverter::sharedManager().setKeyboardMonitor(keyboardMonitor_.get());
    mainWindow_ = std::make_unique<MainWindow>();
    controller_ = std::make_unique<MainWindowController>(*mainWindow_, std::move(services));
    mainWindow_->setController(controller_.get());
    connect(mainWindow_.get(), &MainWindow::windowWillClose, this, &AppShell::mainWindowWillClose);
    present(*mainWindow_);
    controller_->windowDidLoad();
}

void AppShell::showPermissionsWindow(const Permissions& permissions)
{
    permissionsWindow_ = std::make_unique<RequestPermissionsWindow>(permissions);
    present(*permissionsWindow_);
}

void AppShell::present(QMainWindow& window)
{
    window.setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    if (!trayIcon_ && quitAction_)
        window.menuBar()->addMenu(UiText::localized("STRING_TITLEBAR_MAIN"))->addAction(quitAction_);
    else if (quitAction_)
        window.addAction(quitAction_);
    TopLevelWindows::showCentred(window);
}

void AppShell::mainWindowWillClose()
{
    TopLevelWindows::closeAllBut(*mainWindow_);
    controller_->windowWillClose();
}

void AppShell::activate()
{
    QMainWindow* window = mainWindow_ ? static_cast<QMainWindow*>(mainWindow_.get()) : permissionsWindow_.get();
    if (window) {
        // Back from the task bar, or from wherever it was hidden.
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        // Qt's activation carries its last event's time, which X refuses once the keys went elsewhere.
        if (QGuiApplication::platformName() == "xcb")
            X11WindowActivation::activate(static_cast<uint32_t>(window->winId()));
    }
}

void AppShell::terminate()
{
    // The quit entry or a signal: Qt's quit closes the windows, and the main window asks no question.
    if (mainWindow_)
        mainWindow_->closeWithoutAsking();
    QCoreApplication::quit();
}
