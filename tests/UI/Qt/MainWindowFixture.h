#pragma once

#include "QtTestSupport.h"

#include "Session/FakeCastMedia.h"
#include "UI/FakeWindowSource.h"
#include "UI/Qt/MainWindow.h"
#include "Session/SessionTestSupport.h"

#include <memory>
#include <string>

// The main window on screen, 800 x 600, with its controls found by object name.
class MainWindowFixture : public QtLoopFixture {
protected:
    MainWindowFixture() { window.show(); }

    // The control of that name inside `in` (the window when nullptr).
    template <typename T>
    T* control(const char* name, QWidget* in = nullptr) const
    {
        return findControl<T>(in ? *in : static_cast<const QWidget&>(window), name);
    }
    bool shows(const char* name) const { return control<QWidget>(name)->isVisibleTo(&window); }

    void screenshot(const std::string& name) { saveScreenshot(window, name); }

    MainWindow window;
};

// The window in front of the session controller and a TV peer on 127.0.0.1, casting through fake
// media (no screen, no sound server).
class MainWindowSessionFixture : public MainWindowFixture {
protected:
    explicit MainWindowSessionFixture(TvSim::Options options = SessionFixture::tvOptions()) : tv(std::move(options))
    {
        EXPECT_TRUE(tv.start());
        SessionServices services = SessionFixture::loopbackServices(link, tv);
        services.castMedia = media.media();
        services.windowList = windows;
        controller = std::make_unique<MainWindowController>(window, std::move(services));
        window.setController(controller.get());
        controller->windowDidLoad();
    }
    ~MainWindowSessionFixture() override
    {
        window.setController(nullptr);
        controller.reset();
    }

    FakeCastMedia media;
    std::shared_ptr<FakeWindowSource> windows = std::make_shared<FakeWindowSource>();
    TvSim tv;
    TCPManager link{SessionFixture::linkOptions()};
    std::unique_ptr<MainWindowController> controller;
};
