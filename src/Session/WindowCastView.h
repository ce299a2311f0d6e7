#pragma once

#include <string>

class KeyboardMonitor;

// What window and extended-screen casting shows: the connected page's window buttons, the window
// page's start button, the toast that page may leave, and the casting-code window's field and keys.
// Main thread.
class WindowCastView {
public:
    // windowStartBtn: disabled (light grey, start title), start (blue) or stop (red).
    enum class WindowStartButton { Disabled, Start, Stop };

    virtual ~WindowCastView() = default;

    // A window or extended-screen cast runs: pauseBtn and goWindowBtn shown, windowBtn hidden, and
    // the screen button shown off as a start with the stop button hidden. Or no such cast: pauseBtn
    // and goWindowBtn hidden, windowBtn shown.
    virtual void showWindowCastButtons(bool windowCasting) = 0;
    virtual void showWindowStartButton(WindowStartButton state) = 0;
    // The toast still shown, if any, goes.
    virtual void hideToast() = 0;
    // The casting-code field's text as typed.
    virtual std::string castingCodeFieldText() const = 0;
    // The application's key monitor that the casting-code window listens with.
    virtual KeyboardMonitor& castingCodeKeyMonitor() = 0;
};
