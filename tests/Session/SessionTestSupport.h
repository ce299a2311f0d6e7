#pragma once

#include "Session/FakeVirtualDisplay.h"
#include "Platform/MainLoopFixture.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Socket/TcpClientTestSupport.h"
#include "Session/CastingCode.h"
#include "Session/MainWindowController.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/SendersController.h"
#include "Session/TvControlController.h"
#include "Session/TvScreenController.h"
#include "Session/WindowCastController.h"
#include "Session/RecordingView.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The casting code that carries the last three octets of an address, the first character being the
// key: built from the code's description, apart from the decoder under test.
inline std::string encodeCastingCode(char key, std::array<int, 3> octets)
{
    const std::string_view table = CastingCode::kCodeTable;
    const uint32_t bits = (static_cast<uint32_t>(octets[0]) << 16) | (static_cast<uint32_t>(octets[1]) << 8) |
                          static_cast<uint32_t>(octets[2]);
    // Four groups of five bits and one of four, most significant first.
    const std::array<uint32_t, 5> groups{(bits >> 19) & 31, (bits >> 14) & 31, (bits >> 9) & 31, (bits >> 4) & 31,
                                         bits & 15};
    const size_t keyValue = table.find(key);
    std::string code(1, key);
    for (const uint32_t group : groups)
        code += table[(keyValue + group) % table.size()];
    return code;
}

// The messages of each type that the TV peer received, read one after another in the order they came.
class TvMessageCursor {
public:
    explicit TvMessageCursor(TvSim& tv) : tv_(tv) {}

    // The payload of the next message of that type, waited for; empty when none came.
    std::vector<uint8_t> next(uint16_t type)
    {
        const size_t count = ++read_[type];
        if (!tv_.waitForMessagesOfType(type, count))
            return {};
        return tv_.received(type).at(count - 1).payload;
    }

private:
    TvSim& tv_;
    std::map<uint16_t, size_t> read_;
};

// A session controller wired to a TV peer on 127.0.0.1 through its own link, with the recording view,
// no discovery and 127.0.0.1 as the only local interface.
class SessionFixture : public MainLoopFixture {
public:
    static TvSim::Options tvOptions()
    {
        TvSim::Options options;
        options.heartbeatInterval = std::chrono::milliseconds(0);
        options.name = "Living Room";
        return options;
    }

    static TCPManager::Options linkOptions()
    {
        TCPManager::Options options;
        options.timing = quickTiming();
        return options;
    }

    // A session through that link to that TV on 127.0.0.1, with no discovery.
    static SessionServices loopbackServices(TCPManager& link, const TvSim& tv)
    {
        SessionServices s;
        s.link = &link;
        s.discovery.reset();
        s.tvPort = tv.port();
        s.localAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        s.extendedScreen = FakeVirtualDisplay::refused();
        return s;
    }

protected:
    explicit SessionFixture(TvSim::Options options = tvOptions()) : tv(std::move(options)) {}

    void SetUp() override { ASSERT_TRUE(tv.start()); }
    void TearDown() override { controller.reset(); }

    virtual SessionServices services()
    {
        SessionServices s = loopbackServices(link, tv);
        s.clearSharedFolder = [this] { ++folderClears; };
        return s;
    }

    void makeController()
    {
        controller = std::make_unique<MainWindowController>(view, services());
        controller->windowDidLoad();
    }

    SessionState& state() { return controller->state(); }

    bool runUntil(const std::function<bool()>& done) { return loop->runUntil(done); }
    bool waitConnected()
    {
        return runUntil([this] { return state().ConnectWithTv; });
    }
    // Waits for a call of the view that begins with prefix.
    bool waitForView(const std::string& prefix, size_t count = 1)
    {
        return runUntil([&] { return view.callsStartingWith(prefix).size() >= count; });
    }
    // Connects by the typed address and waits for the TV's casting code, which comes last.
    void connectTyped()
    {
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(waitConnected());
        ASSERT_TRUE(runUntil([this] { return state().screenProjectionCode.has_value(); }));
    }
    // What the TV's earlier messages handled on the receive thread led to has run on the main queue:
    // an edition level no TV has, sent after them, has arrived.
    void syncWithTv()
    {
        const int marker = --syncMarker;
        ASSERT_TRUE(tv.send(kMsgActiveVersion, TvSim::int32(marker)));
        ASSERT_TRUE(runUntil([&] { return state().activeVersion == marker; }));
    }

    TvSim tv;
    TCPManager link{linkOptions()};
    RecordingView view;
    int folderClears = 0;
    int syncMarker = 0;
    std::unique_ptr<MainWindowController> controller;
};
