#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Toasts and modal alerts of the main window.
class ToastPresenter {
public:
    virtual ~ToastPresenter() = default;

    // position 0: 480 points above the window's bottom; 2: 80 points; any other: centred vertically.
    // A show time of 0 or less keeps the toast until something removes it.
    virtual void showToastTip(const std::string& message, bool hasClose, int64_t position, float showTime) = 0;
    // A modal warning with one OK button; `dismissed` runs on the main queue once the user closed it.
    virtual void showAlert(const std::string& message, const std::string& informative,
                           std::function<void()> dismissed) = 0;
    // Closes every open alert without running its dismissal (the session it spoke of has ended).
    virtual void closeAlerts() = 0;
};
