#pragma once

#include "FileShare/FilePanelView.h"
#include "UI/KeyboardMonitor.h"
#include "Session/MainWindowView.h"
#include "UI/TvMirror/NoDisplayWindow.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The main window as lines of text: every page change, toast, alert and casting state is printed,
// and alerts are closed at once (there is nobody to press OK). It remembers the page shown and
// whether the casting-code window is up, for the program driving the controller. The TV's file offers
// and their results are printed too; the file window has nothing to show here. Main thread.
class ConsoleView final : public MainWindowView, public FilePanelView {
public:
    using Printer = std::function<void(const std::string& line)>;

    explicit ConsoleView(Printer print);

    std::optional<MainWindowPage> page() const { return page_; }
    bool castingCodeWindowShown() const { return castingCodeWindow_; }
    // The latest tip under the address field: the controller's word that the address or code failed.
    const std::optional<std::string>& inputError() const { return inputError_; }

    void showToastTip(const std::string& message, bool hasClose, int64_t position, float showTime) override;
    void showAlert(const std::string& message, const std::string& informative, std::function<void()> dismissed) override;
    // Alerts close as they are shown.
    void closeAlerts() override {}
    void showPage(MainWindowPage page) override;
    void hidePage(MainWindowPage) override {}
    void showDevices(const std::vector<TvDeviceInfo>&) override {}
    void showInputError(const std::optional<std::string>& tip) override;
    void showConnecting(bool) override {}
    void showConnectInfo(const std::string&) override {}
    void showTvName(const std::string& name) override;
    void showTvAddress(const std::string&) override {}
    void showHelpForConnection(bool) override {}
    void showSessionControlsAtRest() override {}
    void showSendersPanel(const SendersPanel&) override {}
    void reloadData(const ConnectList&) override {}
    void setDeviceCountTitle(const std::string&) override {}
    void showSendersSwitch(SendersSwitch, bool) override {}
    void showSendersCount(size_t) override {}
    void showDeviceNameWindow(const std::string&) override {}
    void hideDeviceNameWindow() override {}
    // No relay runs here, so no tip comes.
    bool roziTipWindowVisible() const override { return false; }
    void showRoziTipWindow(const std::string&) override {}
    void hideRoziTipWindow() override {}
    void showCastingCodeWindow() override;
    void hideCastingCodeWindow() override;
    void setCastingCodeText(const std::string& text) override;
    void showCastingCodeError(const std::string& error) override;
    void showCastingState(bool fromScreenButton) override;
    void showIdleState(ScreenType lastScreenType) override;
    void showQualityEntry(bool shown) override;
    bool isFileInfoWindowVisible() const override { return false; }
    void showFileInfoWindow() override {}
    void closeFileInfoWindow() override {}
    FilePanelView& filePanel() override { return *this; }
    void reloadData() override {}
    void setButtonsEnabled(bool) override {}
    void askToReplace(std::function<void()>) override {}
    void showPushFailure(const std::string& reason) override { print_("files: " + reason); }
    void showPushReceived(const std::string& message) override { print_("files: " + message); }
    // The console says where transfers end, not how they go.
    void showPushProgress(const TransferProgress&) override {}
    void showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining) override;
    void showCountdown(int64_t) override {}
    void hideFileShareWindow() override {}
    void showDownloadProgress(const TransferProgress&) override {}
    void showOfferTimedOut() override { print_("file offer declined: no answer in time"); }
    void showDownloadResult(int stored, int failed) override;
    void hideDownloadSuccessWindow() override {}
    bool openFolder(const std::filesystem::path&) override { return false; }
    void setExtendSnapshot(const BgraFrame&) override {}
    void setExtendAvailable(bool) override {}
    // WindowCastView: the console casts the whole screen only, and has no keys to listen to.
    void showWindowCastButtons(bool) override {}
    void showWindowStartButton(WindowStartButton) override {}
    void hideToast() override {}
    std::string castingCodeFieldText() const override { return {}; }
    KeyboardMonitor& castingCodeKeyMonitor() override { return noKeys_; }
    // This front-end does not view the TV's screen.
    DisplayWindowView& displayWindowView() override { return noDisplayWindow_; }
    DisplayLayer& displayLayer() override { return noDisplayWindow_; }
    void setMirrorButtonOn(bool) override {}
    void setMirrorButtonEnabled(bool) override {}
    void setStopMirrorButtonEnabled(bool) override {}
    void showViewingState(bool) override {}

    static const char* pageName(MainWindowPage page);

private:
    class NoKeys final : public KeyboardMonitor {
    public:
        void install(Handler) override {}
        void remove() override {}
    };

    NoDisplayWindow noDisplayWindow_;
    Printer print_;
    NoKeys noKeys_;
    std::optional<MainWindowPage> page_;
    bool castingCodeWindow_ = false;
    std::optional<std::string> inputError_;
};
