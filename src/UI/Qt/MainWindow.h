#pragma once

#include "Session/MainWindowView.h"
#include "UI/Qt/CastingControls.h"
#include "UI/Qt/QtKeyboardMonitor.h"
#include "UI/Qt/DisplayWindow.h"
#include "UI/Qt/DownloadResultWindow.h"
#include "UI/Qt/FileShareWindow.h"
#include "UI/Qt/FileWindow.h"
#include "UI/Qt/RoziTipWindow.h"
#include "UI/TvMirror/VideoDisplayLayer.h"
#include "UI/Qt/SendersPanelView.h"
#include "UI/Qt/ToastView.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CheckDeviceView;
class DeviceNameWindow;
class HelpPopover;
class GlobalPopWindow;
class MainWindowController;
class QWidget;
class SpinAnimation;
class WindowPageView;

namespace Ui {
class MainWindowController;
}

// The main window: shows what MainWindowController decides and hands the user's input to it. Its
// controls are laid out in MainWindowController.ui and reached by their object names. Main thread.
class MainWindow final : public QMainWindow, public MainWindowView {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where the window's actions go from now on; nullptr: nowhere. The controller outlives the window
    // or is unset before it goes.
    void setController(MainWindowController* controller);
    // The page on show; nullopt while none is.
    std::optional<MainWindowPage> currentPage() const;
    // The latest toast, while it is shown.
    ToastView* toastView() const { return toastView_; }
    CheckDeviceView* checkDeviceView() const { return checkDeviceView_; }
    // The refresh button's turn.
    SpinAnimation* refreshDevSpin() const { return refreshDevSpin_; }
    // The application is quitting by its own road: the next close asks nothing.
    void closeWithoutAsking() { closeAsked_ = true; }

    // ToastPresenter
    void showToastTip(const std::string& message, bool hasClose, int64_t position, float showTime) override;
    void showAlert(const std::string& message, const std::string& informative, std::function<void()> dismissed) override;
    void closeAlerts() override;

    // ConnectionView
    void showPage(MainWindowPage page) override;
    void hidePage(MainWindowPage page) override;
    void showDevices(const std::vector<TvDeviceInfo>& devices) override;
    void showInputError(const std::optional<std::string>& tip) override;
    void showConnecting(bool connecting) override;
    void showConnectInfo(const std::string& text) override;
    void showTvName(const std::string& name) override;
    void showTvAddress(const std::string& address) override;
    void showHelpForConnection(bool connected) override;
    void showSessionControlsAtRest() override;

    // SendersView: the senders panel and the device-name window show in their own views.
    void showSendersPanel(const SendersPanel& panel) override { sendersPanel_->showSendersPanel(panel); }
    void showSendersSwitch(SendersSwitch which, bool on) override { sendersPanel_->showSendersSwitch(which, on); }
    void showSendersCount(size_t count) override { sendersPanel_->showSendersCount(count); }
    void reloadData(const ConnectList& list) override { sendersPanel_->reloadData(list); }
    void setDeviceCountTitle(const std::string& title) override { sendersPanel_->setDeviceCountTitle(title); }
    void showDeviceNameWindow(const std::string& placeholder) override;
    void hideDeviceNameWindow() override;
    // RoziTipView: the relay's tip window.
    bool roziTipWindowVisible() const override { return roziTipWindow_->isVisible(); }
    void showRoziTipWindow(const std::string& text) override { roziTipWindow_->showWithText(text); }
    void hideRoziTipWindow() override { roziTipWindow_->hide(); }
    RoziTipWindow& roziTipWindow() const { return *roziTipWindow_; }

    // CastingView: the cast controls and the casting-code window; the quality entry is the settings
    // popover's.
    void showCastingCodeWindow() override { castControls_->showCastingCodeWindow(); }
    void hideCastingCodeWindow() override { castControls_->hideCastingCodeWindow(); }
    void setCastingCodeText(const std::string& text) override { castControls_->setCastingCodeText(text); }
    void showCastingCodeError(const std::string& error) override { castControls_->showCastingCodeError(error); }
    void showCastingState(bool fromScreenButton) override { castControls_->showCastingState(fromScreenButton); }
    void showIdleState(ScreenType lastScreenType) override { castControls_->showIdleState(lastScreenType); }
    void showQualityEntry(bool shown) override;

    // FileWindowView, FileOfferView: the file window with its panel, the offer and result windows.
    bool isFileInfoWindowVisible() const override { return fileWindow_->isFileInfoWindowVisible(); }
    void showFileInfoWindow() override { fileWindow_->showFileInfoWindow(); }
    void closeFileInfoWindow() override { fileWindow_->closeFileInfoWindow(); }
    FilePanelView& filePanel() override { return fileWindow_->filePanel(); }
    void showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining) override;
    void showCountdown(int64_t secondsRemaining) override { fileShareWindow_->showCountdown(secondsRemaining); }
    void hideFileShareWindow() override { fileShareWindow_->hide(); }
    void showDownloadProgress(const TransferProgress& downloads) override { fileShareWindow_->showProgress(downloads); }
    // Long enough to read; its close button ends it sooner.
    static constexpr float kOfferTimedOutToastSeconds = 8.0f;
    void showOfferTimedOut() override;
    void showDownloadResult(int stored, int failed) override { downloadSuccessWindow_->showResult(stored, failed); }
    void hideDownloadSuccessWindow() override { downloadSuccessWindow_->hide(); }
    bool openFolder(const std::filesystem::path& folder) override { return DownloadResultWindow::openFolder(folder); }
    FileWindow& fileInfoWindow() const { return *fileWindow_; }
    FileShareWindow& fileShareWindow() const { return *fileShareWindow_; }
    DownloadResultWindow& downloadSuccessWindow() const { return *downloadSuccessWindow_; }

    // ExtendTileView: the window picker's Extend tile.
    void setExtendSnapshot(const BgraFrame& picture) override;
    void setExtendAvailable(bool available) override;
    // WindowCastView: the connected page's window buttons are the cast controls', the start button
    // the window page's; the casting-code window listens with a key monitor of its own.
    void showWindowCastButtons(bool windowCasting) override { castControls_->showWindowCastButtons(windowCasting); }
    void showWindowStartButton(WindowStartButton state) override;
    void hideToast() override;
    std::string castingCodeFieldText() const override;
    KeyboardMonitor& castingCodeKeyMonitor() override { return castingCodeKeys_; }
    WindowPageView* windowPage() const { return windowPage_; }
    // ViewingView: the TV-screen window and the view buttons among the cast controls.
    DisplayWindow& displayWindow() const { return *displayWindow_; }
    DisplayWindowView& displayWindowView() override { return *displayWindow_; }
    DisplayLayer& displayLayer() override { return displayWindow_->displayLayer(); }
    void setMirrorButtonOn(bool on) override { castControls_->setMirrorButtonOn(on); }
    void setMirrorButtonEnabled(bool enabled) override { castControls_->setMirrorButtonEnabled(enabled); }
    void setStopMirrorButtonEnabled(bool enabled) override { castControls_->setStopMirrorButtonEnabled(enabled); }
    void showViewingState(bool viewing) override { castControls_->showViewingState(viewing); }

Q_SIGNALS:
    // The window is closing (by the user or by close()).
    void windowWillClose();

protected:
    // During a cast, a close the user did not confirm yet asks first and keeps the window.
    void closeEvent(QCloseEvent* event) override;
    // Escape cancels a connect under way.
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget* pageWidget(MainWindowPage page) const;
    void setTexts();
    void connectActions();

    std::unique_ptr<Ui::MainWindowController> ui_;
    MainWindowController* controller_ = nullptr;
    QPointer<ToastView> toastView_;
    GlobalPopWindow* quitWhileCasting_ = nullptr;
    // Set once a close needs no question (confirmed, or the application's quit road).
    bool closeAsked_ = false;
    // The alerts showing, by message and informative text, with the dismissals waiting for each: a
    // repeat of one that shows is not stacked, it is told when the one showing is dismissed.
    std::map<std::string, std::vector<std::function<void()>>> alerts_;
    CastingControls* castControls_ = nullptr;
    CheckDeviceView* checkDeviceView_ = nullptr;
    SpinAnimation* refreshDevSpin_ = nullptr;
    SendersPanelView* sendersPanel_ = nullptr;
    HelpPopover* helpPopover_ = nullptr;
    DeviceNameWindow* deviceNameWindow_ = nullptr;
    WindowPageView* windowPage_ = nullptr;
    QtKeyboardMonitor castingCodeKeys_;
    DisplayWindow* displayWindow_ = nullptr;
    FileWindow* fileWindow_ = nullptr;
    FileShareWindow* fileShareWindow_ = nullptr;
    DownloadResultWindow* downloadSuccessWindow_ = nullptr;
    RoziTipWindow* roziTipWindow_ = nullptr;
};
