#pragma once

#include "Platform/MainLoopFixture.h"
#include "UI/KeycodeConverter.h"
#include "UI/TvMirror/DisplayWindowController.h"
#include "UI/TvMirror/DisplayWindowFakes.h"

#include <vector>

// A TV-screen window controller on the test's main loop, with a recording view, a fake picture and a
// keyboard forwarder of its own; every message to the TV lands in `sent`.
class DisplayWindowFixture : public MainLoopFixture {
protected:
    DisplayWindowFixture()
    {
        keyboard.setKeyboardMonitor(&monitor);
        controller.setDisplayWindowDelegate(&delegate);
    }

    DisplayInputForwarder::Sender recordingSender()
    {
        return [this](int type, const uint8_t* data, int len) {
            sent.push_back({type, std::vector<uint8_t>(data, data + len)});
            return true;
        };
    }

    // The TV reports its resolution, as the session controller passes it on.
    void tvResolution(double width, double height)
    {
        controller.setMouseSize({width, height});
        loop->runUntilIdle();
    }
    void controlStatus(bool granted)
    {
        controller.changeControlStatus(granted);
        loop->runUntilIdle();
    }
    void tvVersion(int version)
    {
        controller.tvAppVersion(version);
        loop->runUntilIdle();
    }

    RecordingDisplayWindowView view;
    FakeDisplayLayer layer;
    StubKeyboardMonitor monitor;
    CountingDisplayWindowDelegate delegate;
    std::vector<SentMessage> sent;
    KeycodeConverter keyboard{recordingSender()};
    DisplayWindowController controller{view, layer, {.sender = recordingSender(), .keyboard = &keyboard}};
};
