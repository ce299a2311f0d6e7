#pragma once

#include <string>

// Everything the about window shows at one moment; the controller hands over the whole of it after
// each change. Alignments as the platform numbers them: 0 left, 2 centred.
struct AboutWindowLook {
    static constexpr int kLeft = 0;
    static constexpr int kCentred = 2;

    std::string versionText;
    int versionAlignment = kCentred;
    bool versionVisible = true;
    std::string aboutText;
    std::string tipsText;
    bool tipsVisible = false;
    // 0 to 100; an indeterminate bar while the size of the download is unknown.
    double progressValue = 0;
    bool progressIndeterminate = false;
    bool progressVisible = false;
    std::string percentageText;
    bool percentageVisible = false;
    std::string okTitle;
    bool okEnabled = true;
    std::string cancelTitle;
    bool cancelVisible = false;
    // Why the last download or install failed; empty hides the line.
    std::string errorText;

    bool operator==(const AboutWindowLook&) const = default;
};

// The about window. Main thread.
class AboutWindowView {
public:
    virtual ~AboutWindowView() = default;

    virtual void render(const AboutWindowLook& look) = 0;
    // Shows the window in front, or closes it.
    virtual void showWindow() = 0;
    virtual void closeWindow() = 0;
};
