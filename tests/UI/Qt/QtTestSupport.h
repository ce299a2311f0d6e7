#pragma once

#include "Platform/MainQueue.h"
#include "UI/Qt/QtMainLoop.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// The test process's one QApplication, made on first use: on the offscreen platform, or on the one
// QT_QPA_PLATFORM names (xcb on a private Xvfb, for pictures of the real platform).
inline QApplication& qtApplication()
{
    static QApplication* const application = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "UIQt_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

// Serves Qt's events until done() holds or the real-time limit passes; true when done() held.
inline bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Serves Qt's events for that long.
inline void processFor(std::chrono::milliseconds time)
{
    processUntil([] { return false; }, time);
}

// Each test gets the Qt event loop serving the main queue.
class QtLoopFixture : public ::testing::Test {
protected:
    QtLoopFixture() : loop((qtApplication(), std::make_shared<QtMainLoop>())) { MainQueue::install(loop); }
    ~QtLoopFixture() override
    {
        loop->close();
        MainQueue::install(nullptr);
    }

    const std::shared_ptr<QtMainLoop> loop;
};

// Writes the widget's picture, once its pending events are served, as NAME.png to the folder
// $PELKOR_SCREENSHOT_DIR names, else to the build tree's screenshots folder.
inline void saveScreenshot(QWidget& widget, const std::string& name)
{
    const char* chosen = std::getenv("PELKOR_SCREENSHOT_DIR");
    const std::filesystem::path folder = chosen && *chosen ? chosen : PELKOR_SCREENSHOT_DIR;
    std::filesystem::create_directories(folder);
    processFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((folder / (name + ".png")).string())));
}

// The widget of that object name inside `window`; a missing one fails the test and gives nullptr.
template <typename T>
T* findControl(const QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}
