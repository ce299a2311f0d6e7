#pragma once

#include <functional>

class QWidget;

// What the application does with its windows as a whole. Main thread.
class TopLevelWindows {
public:
    // Centres the window on the primary screen, shows it and brings it to the front.
    static void showCentred(QWidget& window);
    // Closes every visible window of the application but `kept`.
    static void closeAllBut(const QWidget& kept);
    // Escape anywhere in the window runs `action`: the window's Cancel, or its close.
    static void onEscape(QWidget& window, std::function<void()> action);
    // Return (or Enter) anywhere in the window runs `action`: the window's OK.
    static void onReturn(QWidget& window, std::function<void()> action);
};
