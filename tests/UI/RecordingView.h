#pragma once

#include "FileShare/RecordingFilePanel.h"
#include "UI/MainWindowView.h"

#include <functional>
#include <string>
#include <vector>

// A MainWindowView for tests: records every call as one line of text ("showPage Connected"), in order,
// and keeps the latest alert's dismissal so a test can close it.
class RecordingView final : public MainWindowView {
public:
    std::vector<std::string> calls;
    std::function<void()> pendingAlert;
    RecordingFilePanel panel{calls};
    bool fileWindowVisible = false;
    bool folderOpens = true;

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
    void showPage(MainWindowPage page) override
    {
        static const char* const names[] = {"NoDevice", "DeviceList", "Connected", "Window"};
        calls.push_back(std::string("showPage ") + names[static_cast<int>(page)]);
    }

    bool isFileInfoWindowVisible() const override { return fileWindowVisible; }
    void showFileInfoWindow() override
    {
        calls.push_back("showFileInfoWindow");
        fileWindowVisible = true;
    }
    FilePanelView& filePanel() override { return panel; }

    void showFileShareWindow(size_t fileCount, int64_t secondsRemaining) override
    {
        calls.push_back("showFileShareWindow " + std::to_string(fileCount) + " " + std::to_string(secondsRemaining));
    }
    void showCountdown(int64_t secondsRemaining) override { calls.push_back("showCountdown " + std::to_string(secondsRemaining)); }
    void hideFileShareWindow() override { calls.push_back("hideFileShareWindow"); }
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
