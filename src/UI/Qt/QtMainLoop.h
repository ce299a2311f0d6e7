#pragma once

#include "Platform/MainLoop.h"

#include <memory>
#include <thread>

class QSocketNotifier;
class QTimer;

// The application's main loop: the main queue's tasks run in the Qt event loop of the GUI thread.
// Tasks wait in a deadline queue of our own under one mutex; a post from any thread wakes the GUI
// thread through an eventfd that a QSocketNotifier watches, and a single-shot QTimer serves the
// earliest deadline. No Qt call is made off the GUI thread. now() is the steady clock.
class QtMainLoop final : public MainLoop {
public:
    // On the GUI thread, with the QCoreApplication made (asserted).
    QtMainLoop();
    // Any thread, once closed (asserted).
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    // On the GUI thread, before the QCoreApplication goes: the tasks waiting are dropped, and so is
    // every later one.
    void close();

    void post(Task task) override;
    void postAfter(Clock::duration delay, Task task) override;
    Clock::time_point now() const override;
    bool isLoopThread() const override;

private:
    struct Core;
    // Runs the tasks due, then sets the timer for the next deadline. GUI thread.
    void drain();

    const std::unique_ptr<Core> core_;
    const std::thread::id thread_;
    // The GUI thread's objects, owned by the QCoreApplication too; null once closed.
    QSocketNotifier* wakeNotifier_ = nullptr;
    QTimer* deadlineTimer_ = nullptr;
};
