#pragma once

#include "Session/FakeCastMedia.h"
#include "Session/RecordingView.h"

#include "Platform/TestMainLoop.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/MainWindowController.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

// What the tests of the TV's control of this computer share: the controller on a link of its own to a
// tv-sim on loopback, casting one display pixel for pixel, the TV's input posted as the test asks.
class TvControlSession {
public:
    // Connects; the casting code is known once it returns. Fails the test where that does not happen.
    void connect(TestMainLoop& loop, CastDisplay display, InputPosting input)
    {
        TvSim::Options options;
        options.heartbeatInterval = std::chrono::milliseconds(0);
        sim.emplace(options);
        ASSERT_TRUE(sim->start());
        SessionServices services;
        services.link = &link;
        services.discovery.reset();
        services.castMedia = media.media();
        services.castMedia.mainDisplay = [display] { return std::optional(display); };
        services.input = std::move(input);
        services.tvPort = sim->port();
        controller = std::make_unique<MainWindowController>(view, services);
        controller->windowDidLoad();
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(loop.runUntil([&] {
            return controller->state().ConnectWithTv && controller->state().screenProjectionCode.has_value();
        }));
    }

    // A whole-screen cast that the TV answers at level 1 (1280 x 720); its touches count from then on.
    void cast(TestMainLoop& loop)
    {
        const size_t announced = sim->receivedCount(kMsgCastAudioFormat);
        controller->casting().clickScreen(true);
        ASSERT_TRUE(sim->waitForMessagesOfType(kMsgCastAudioFormat, announced + 1));
        ASSERT_TRUE(sim->send(kMsgVideoQuality, TvSim::videoQuality(0, 0, 1, 0)));
        ASSERT_TRUE(loop.runUntil([&] { return controller->casting().touchArea().has_value(); }));
    }

    // Sends as the TV does.
    void touch(uint16_t type, int32_t x, int32_t y) { ASSERT_TRUE(sim->send(type, TvSim::touch(x, y))); }
    void key(int32_t code) { ASSERT_TRUE(sim->send(kMsgKeyCode, TvSim::keyCode(code))); }

    // The controller goes first; what it left queued is served.
    void end(TestMainLoop& loop)
    {
        controller.reset();
        loop.runUntilIdle();
    }

    std::optional<TvSim> sim;
    FakeCastMedia media;
    TCPManager link;
    RecordingView view;
    std::unique_ptr<MainWindowController> controller;
};
