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
};
