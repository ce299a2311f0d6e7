#pragma once

#include "UI/FakeKeyboardMonitor.h"
#include "FileShare/RecordingFilePanel.h"
#include "Platform/BgraFrame.h"
#include "UI/ConnectList.h"
#include "Session/MainWindowView.h"
#include "FileShare/TransferProgress.h"
#include "Socket/FileShareOffer.h"
#include "UI/TvMirror/DisplayWindowFakes.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

// A MainWindowView for tests: records every call as one line of text ("showPage Connected"), in order,
// and keeps the latest alert's dismissal so a test can close it.
class RecordingView final : public MainWindowView {
public:
    std::vector<std::string> calls;
    std::function<void()> pendingAlert;
    RecordingFilePanel filePanelView{calls};
    bool fileWindowVisible = false;
    bool roziTipVisible = false;
    bool folderOpens = true;
    // What the casting-code window listens with; the test plays keys into it.
    FakeKeyboardMonitor keyMonitor;
    std::string castingCodeField;
    // The senders panel's rows as last reloaded.
    std::vector<ConnectListItem> rows;
    // The offer's downloads as last shown, kept apart from the calls (how often they come depends on
    // the clock), and how many times they were.
    TransferProgress downloads;
    size_t downloadsShown = 0;
    // The TV-screen window and its picture.
    RecordingDisplayWindowView displayWindow;
    FakeDisplayLayer layer;

    // The recorded calls that begin with prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> found;
        std::ranges::copy_if(calls, std::back_inserter(found),
                             [&](const std::string& call) { return call.starts_with(prefix); });
        return found;
    }
    // The last call that begins with prefix; empty when none.
    std::string last(const std::string& prefix) const
    {
        const auto found = callsStartingWith(prefix);
        return found.empty() ? std::string() : found.back();
    }

    void showToastTip(const std::string& message, bool hasClose, int64_t position, float showTime) override
    {
        calls.push_back("toast " + message + " close=" + std::to_string(hasClose) + " position=" +
                        std::to_string(position) + " time=" + std::to_string(showTime));
    }
    void showAlert(const std::string& message, const std::string& informative, std::function<void()> dismissed) override
    {
        calls.push_back("alert " + message + " / " + informative);
        pendingAlert = std::move(dismissed);
    }
    void closeAlerts() override
    {
        calls.push_back("closeAlerts");
        pendingAlert = nullptr;
    }
    void showPage(MainWindowPage page) override { calls.push_back("showPage " + pageName(page)); }
    void hidePage(MainWindowPage page) override { calls.push_back("hidePage " + pageName(page)); }
    void showDevices(const std::vector<TvDeviceInfo>& devices) override
    {
        std::string line = "showDevices";
        for (const TvDeviceInfo& tv : devices)
            line += " " + tv.ipAddr + "(" + tv.name + (tv.state ? ",connected" : "") + ")";
        calls.push_back(line);
    }
    void showInputError(const std::optional<std::string>& tip) override
    {
        calls.push_back("showInputError " + tip.value_or("(hidden)"));
    }
    void showConnecting(bool connecting) override { calls.push_back("showConnecting " + std::to_string(connecting)); }
    void showConnectInfo(const std::string& text) override { calls.push_back("showConnectInfo " + text); }
    void showTvName(const std::string& name) override { calls.push_back("showTvName " + name); }
    void showTvAddress(const std::string& address) override { calls.push_back("showTvAddress " + address); }
    void showHelpForConnection(bool connected) override
    {
        calls.push_back(std::string("showHelpForConnection ") + (connected ? "connected" : "not connected"));
    }
    void showSessionControlsAtRest() override { calls.push_back("showSessionControlsAtRest"); }
    void showSendersPanel(const SendersPanel& panel) override
    {
        calls.push_back("showSendersPanel list=" + std::to_string(panel.listShown) + " ball=" +
                        std::to_string(panel.ballShown) + " count=" + std::to_string(panel.countShown));
    }
    void reloadData(const ConnectList& list) override
    {
        rows.clear();
        std::string line = "reloadData " + std::to_string(list.numberOfItems());
        for (size_t position = 0; const auto item = list.item(position); ++position) {
            line += " " + item->nameLabel();
            rows.push_back(*item);
        }
        calls.push_back(line);
    }
    void setDeviceCountTitle(const std::string& title) override { calls.push_back("setDeviceCountTitle " + title); }
    void showSendersSwitch(SendersSwitch which, bool on) override
    {
        calls.push_back(std::string("showSendersSwitch ") +
                        (which == SendersSwitch::SplitScreen ? "split" : "reverse") + (on ? " on" : " off"));
    }
    void showSendersCount(size_t count) override { calls.push_back("showSendersCount " + std::to_string(count)); }
    void showDeviceNameWindow(const std::string& placeholder) override
    {
        calls.push_back("showDeviceNameWindow " + placeholder);
    }
    void hideDeviceNameWindow() override { calls.push_back("hideDeviceNameWindow"); }
    bool roziTipWindowVisible() const override { return roziTipVisible; }
    void showRoziTipWindow(const std::string& text) override
    {
        roziTipVisible = true;
        calls.push_back("showRoziTipWindow " + text);
    }
    void hideRoziTipWindow() override
    {
        roziTipVisible = false;
        calls.push_back("hideRoziTipWindow");
    }
    void setExtendSnapshot(const BgraFrame& snapshot) override
    {
        calls.push_back("setExtendSnapshot " + std::to_string(snapshot.width) + "x" + std::to_string(snapshot.height));
    }
    void setExtendAvailable(bool available) override
    {
        calls.push_back("setExtendAvailable " + std::to_string(available));
    }

    DisplayWindowView& displayWindowView() override { return displayWindow; }
    DisplayLayer& displayLayer() override { return layer; }
    void setMirrorButtonOn(bool on) override { calls.push_back("setMirrorButtonOn " + std::to_string(on)); }
    void setMirrorButtonEnabled(bool enabled) override
    {
        calls.push_back("setMirrorButtonEnabled " + std::to_string(enabled));
    }
    void setStopMirrorButtonEnabled(bool enabled) override
    {
        calls.push_back("setStopMirrorButtonEnabled " + std::to_string(enabled));
    }
    void showViewingState(bool viewing) override { calls.push_back("showViewingState " + std::to_string(viewing)); }

private:
    static std::string pageName(MainWindowPage page)
    {
        static const char* const names[] = {"NoDevice", "DeviceList", "Connected", "Window"};
        return names[static_cast<int>(page)];
    }
    void showCastingCodeWindow() override { calls.push_back("showCastingCodeWindow"); }
    void hideCastingCodeWindow() override { calls.push_back("hideCastingCodeWindow"); }
    void setCastingCodeText(const std::string& text) override { calls.push_back("setCastingCodeText " + text); }
    void showCastingCodeError(const std::string& error) override { calls.push_back("showCastingCodeError " + error); }
    void showCastingState(bool fromScreenButton) override
    {
        calls.push_back("showCastingState fromScreenButton=" + std::to_string(fromScreenButton));
    }
    void showIdleState(ScreenType lastScreenType) override
    {
        calls.push_back("showIdleState screenType=" + std::to_string(lastScreenType));
    }
    void showQualityEntry(bool shown) override { calls.push_back("showQualityEntry " + std::to_string(shown)); }

    void showWindowCastButtons(bool windowCasting) override
    {
        calls.push_back("showWindowCastButtons " + std::to_string(windowCasting));
    }
    void showWindowStartButton(WindowStartButton state) override
    {
        static constexpr const char* names[] = {"Disabled", "Start", "Stop"};
        calls.push_back(std::string("showWindowStartButton ") + names[static_cast<int>(state)]);
    }
    void hideToast() override { calls.push_back("hideToast"); }
    std::string castingCodeFieldText() const override { return castingCodeField; }
    KeyboardMonitor& castingCodeKeyMonitor() override { return keyMonitor; }

    bool isFileInfoWindowVisible() const override { return fileWindowVisible; }
    void showFileInfoWindow() override
    {
        calls.push_back("showFileInfoWindow");
        fileWindowVisible = true;
    }
    void closeFileInfoWindow() override
    {
        calls.push_back("closeFileInfoWindow");
        fileWindowVisible = false;
    }
    FilePanelView& filePanel() override { return filePanelView; }

    void showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining) override
    {
        calls.push_back("showFileShareWindow " + std::to_string(offer.fileCount()) + " " + std::to_string(secondsRemaining));
    }
    void showCountdown(int64_t secondsRemaining) override { calls.push_back("showCountdown " + std::to_string(secondsRemaining)); }
    void hideFileShareWindow() override { calls.push_back("hideFileShareWindow"); }
    void showDownloadProgress(const TransferProgress& progress) override
    {
        downloads = progress;
        ++downloadsShown;
    }
    void showOfferTimedOut() override { calls.push_back("showOfferTimedOut"); }
    void showDownloadResult(int stored, int failed) override
    {
        calls.push_back("showDownloadResult " + std::to_string(stored) + " " + std::to_string(failed));
    }
    void hideDownloadSuccessWindow() override { calls.push_back("hideDownloadSuccessWindow"); }
    bool openFolder(const std::filesystem::path& folder) override
    {
        calls.push_back("openFolder " + folder.string());
        return folderOpens;
    }
};
