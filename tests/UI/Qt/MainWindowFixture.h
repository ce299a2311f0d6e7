#pragma once

#include "QtTestSupport.h"

#include "UI/Qt/MainWindow.h"
#include "UI/SessionTestSupport.h"

#include <memory>
#include <string>

// The main window on screen, 800 x 600.
class MainWindowFixture : public QtLoopFixture {
protected:
    MainWindowFixture() { window.show(); }

    // The control of that name inside `in` (the window when nullptr).
    template <typename T>
    T* control(const char* name, QWidget* in = nullptr) const
    {
        T* found = in ? in->findChild<T*>(name) : window.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shows(const char* name) const { return control<QWidget>(name)->isVisibleTo(&window); }

    void screenshot(const std::string& name) { saveScreenshot(window, name); }

    MainWindow window;
};

// The window in front of the session controller and a TV peer on 127.0.0.1.
class MainWindowSessionFixture : public MainWindowFixture {
protected:
    MainWindowSessionFixture() : tv(SessionFixture::tvOptions())
    {
        EXPECT_TRUE(tv.start());
        controller = std::make_unique<MainWindowController>(window, SessionFixture::loopbackServices(link, tv));
        window.setController(controller.get());
        controller->windowDidLoad();
    }
    ~MainWindowSessionFixture() override
    {
        window.setController(nullptr);
        controller.reset();
    }

    TvSim tv;
    TCPManager link{SessionFixture::linkOptions()};
    std::unique_ptr<MainWindowController> controller;
};
