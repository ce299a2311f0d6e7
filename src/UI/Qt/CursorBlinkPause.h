#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// Stops the text cursor's blinking after a while without input, as desktops do, and starts it again
// with the next key, click or focus change: a blinking cursor in a window left alone would wake the
// program twice a second for as long as it runs. Main thread, after the QApplication is made; while
// it lives it watches the application's events.
class CursorBlinkPause final : public QObject {
public:
    static constexpr std::chrono::milliseconds kIdle{10'000};

    explicit CursorBlinkPause(std::chrono::milliseconds idle = kIdle);
    // Leaves the blinking as the desktop set it.
    ~CursorBlinkPause() override;
    CursorBlinkPause(const CursorBlinkPause&) = delete;
    CursorBlinkPause& operator=(const CursorBlinkPause&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void resume();

    const int flashTime_;
    QTimer idle_;
};
