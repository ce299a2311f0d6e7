#pragma once

#include <string>

// The relay's tip window: the TV's camera or microphone error as text, dismissed by its button. Main
// thread.
class RoziTipView {
public:
    virtual ~RoziTipView() = default;

    virtual bool roziTipWindowVisible() const = 0;
    // Sets the text and brings the window to the front, centred.
    virtual void showRoziTipWindow(const std::string& text) = 0;
    virtual void hideRoziTipWindow() = 0;
};
