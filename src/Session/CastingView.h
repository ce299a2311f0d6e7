#pragma once

#include "Media/EncoderH264/ScreenType.h"

#include <string>

// What casting shows in the main window: the connected page's buttons in the casting and idle
// states, the casting-code window and the quality entry of the settings. Main thread.
class CastingView {
public:
    virtual ~CastingView() = default;

    // The casting-code window in front, listening for Return; or ordered out, no longer listening.
    virtual void showCastingCodeWindow() = 0;
    virtual void hideCastingCodeWindow() = 0;
    // The text of the casting-code field.
    virtual void setCastingCodeText(const std::string& text) = 0;
    // The error shown under the casting-code field; empty: none.
    virtual void showCastingCodeError(const std::string& error) = 0;
    // Stop shown, start hidden, the window choice cleared, the view button disabled. The window page's
    // controls change too when the cast was started by the screen button.
    virtual void showCastingState(bool fromScreenButton) = 0;
    // Start shown (off), stop hidden, the view button enabled; the window page's start button too
    // when the last cast was not of the whole screen.
    virtual void showIdleState(ScreenType lastScreenType) = 0;
    // The settings' quality entry shown (the TV takes quality changes) or hidden (back to automatic).
    virtual void showQualityEntry(bool shown) = 0;
};
