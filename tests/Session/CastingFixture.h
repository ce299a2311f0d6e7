#pragma once

#include "Session/FakeCastMedia.h"
#include "Session/FakeVirtualDisplay.h"
#include "Session/RecordingView.h"

#include "Platform/MainLoopFixture.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Session/ConnectionController.h"
#include "Session/SendersController.h"
#include "Session/TvControlController.h"
#include "Session/TvScreenController.h"
#include "Session/WindowCastController.h"
#include "UI/SelectedQualityIndex.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// kMsgCastVideoFormat's width, height and mirror type (big-endian words 0, 1 and 6).
struct AnnouncedFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t mirrorType = 0;
    bool operator==(const AnnouncedFormat&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const AnnouncedFormat& format)
{
    return out << format.width << "x" << format.height << " type " << format.mirrorType;
}

// A session on the virtual clock against a TV peer on 127.0.0.1, casting with FakeCastMedia: the
// link is real, so what the controller sends is read back from the peer; capture and sound are fakes.
class CastingFixture : public MainLoopFixture {
protected:
    static TvSim::Options tvOptions()
    {
        TvSim::Options options;
        options.heartbeatInterval = std::chrono::milliseconds(0);
        return options;
    }

    CastingFixture() : sim(tvOptions()) {}

    void SetUp() override
    {
        gSelectedQualityIndex.store(0);
        ASSERT_TRUE(sim.start());
        controller = std::make_unique<MainWindowController>(view, services());
        controller->windowDidLoad();
    }

    void TearDown() override
    {
        controller.reset();
        loop->runUntilIdle();
        gSelectedQualityIndex.store(0);
    }

    virtual SessionServices services()
    {
        SessionServices s;
        s.link = &link;
        s.discovery.reset();
        s.castMedia = media.media();
        s.tvPort = sim.port();
        s.extendedScreen = FakeVirtualDisplay::refused();
        s.routeAudioToLoopback = [this] { soundRouting.push_back("route"); };
        s.restoreAudioDevices = [this] { soundRouting.push_back("restore"); };
        return s;
    }

    SessionState& state() { return controller->state(); }
    CastingController& casting() { return controller->casting(); }

    // Connected by the typed address to the TV, which needs no casting code.
    void connect()
    {
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(loop->runUntil([&] { return state().ConnectWithTv && state().screenProjectionCode.has_value(); }));
    }

    // The screen button pressed: the cast is announced and awaits the TV's answer.
    void announce()
    {
        const size_t before = sim.receivedCount(kMsgCastAudioFormat);
        casting().clickScreen(true);
        ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastAudioFormat, before + 1));
    }

    // The TV answers with `level` over the link; returns once capture (re)started.
    void answer(int32_t level)
    {
        const size_t starts = countEvents("video start");
        ASSERT_TRUE(sim.send(kMsgVideoQuality, TvMessages::videoQuality(0, 0, level, 0)));
        ASSERT_TRUE(loop->runUntil([&] { return countEvents("video start") > starts; }));
    }

    size_t countEvents(const std::string& prefix) const
    {
        const auto events = media.events();
        return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }

    std::vector<uint16_t> receivedTypes() const
    {
        std::vector<uint16_t> types;
        for (const auto& message : sim.received())
            if (message.type != kMsgHeartbeat)
                types.push_back(message.type);
        return types;
    }

    using Format = AnnouncedFormat;
    std::vector<Format> videoFormats() const
    {
        std::vector<Format> formats;
        for (const auto& message : sim.received(kMsgCastVideoFormat)) {
            const auto word = [&](size_t index) {
                const uint8_t* p = message.payload.data() + 4 * index;
                return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
            };
            if (message.payload.size() >= 28)
                formats.push_back({word(0), word(1), word(6)});
        }
        return formats;
    }

    TvSim sim;
    FakeCastMedia media;
    // What the session asked of the sound devices, in order.
    std::vector<std::string> soundRouting;
    TCPManager link;
    RecordingView view;
    std::unique_ptr<MainWindowController> controller;
};
