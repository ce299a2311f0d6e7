#pragma once

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
    void showCastingCodeWindow() override { calls.push_back("showCastingCodeWindow"); }
    void hideCastingCodeWindow() override { calls.push_back("hideCastingCodeWindow"); }
    void setCastingCodeText(const std::string& text) override { calls.push_back("setCastingCodeText " + text); }
    void showCastingState(bool fromScreenButton) override
    {
        calls.push_back("showCastingState fromScreenButton=" + std::to_string(fromScreenButton));
    }
    void showIdleState(ScreenType lastScreenType) override
    {
        calls.push_back("showIdleState screenType=" + std::to_string(lastScreenType));
    }
    void showQualityEntry(bool shown) override { calls.push_back("showQualityEntry " + std::to_string(shown)); }
};
