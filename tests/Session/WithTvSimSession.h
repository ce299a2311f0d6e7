#pragma once

#include "Session/RecordingView.h"

#include "Socket/TCPManager.h"
#include "Session/CastSoundSource.h"
#include "Session/MainWindowController.h"
#include "UI/SelectedQualityIndex.h"
#include "Session/SessionServices.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The real session controller on a link of its own to a tv-sim on loopback, on top of the fixture Base
// (which has the main loop): what the tests that cast from a private X server share. The TV answers each
// announced cast with quality level 1 (1280 x 720), and the quality choice is automatic.
template <class Base>
class WithTvSimSession : public Base {
protected:
    using Base::Base;

    // Starts tv-sim with `options` and makes the controller, its window loaded, on services that reach
    // it; `adjust` may change those services first. Fails the test when tv-sim does not start.
    void startSession(TvSim::Options options, const std::function<void(SessionServices&)>& adjust = {})
    {
        gSelectedQualityIndex.store(0);
        options.heartbeatInterval = std::chrono::milliseconds(0);
        options.qualityLevel = 1;
        sim.emplace(options);
        ASSERT_TRUE(sim->start());
        link.emplace();
        SessionServices services;
        services.link = &*link;
        services.discovery.reset();
        services.tvPort = sim->port();
        if (adjust)
            adjust(services);
        controller = std::make_unique<MainWindowController>(view, services);
        controller->windowDidLoad();
    }

    // Pictures only: the sound has tests of its own.
    static void withoutSound(SessionServices& services)
    {
        services.castMedia.makeSoundSource = [] { return std::unique_ptr<CastSoundSource>(); };
    }

    // The controller goes before the link it uses, then tv-sim; what they left queued is served.
    void stopSession()
    {
        controller.reset();
        link.reset();
        if (sim)
            sim->stop();
        this->loop->runUntilIdle();
    }

    SessionState& state() { return controller->state(); }

    std::optional<TvSim> sim;
    std::optional<TCPManager> link;
    RecordingView view;
    std::unique_ptr<MainWindowController> controller;
};
