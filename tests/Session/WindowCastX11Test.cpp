#include "ChildProcess.h"
#include "Session/PrivateXvfbFixture.h"
#include "Session/WithTvSimSession.h"

#include "Media/EncoderH264/windowInfo.h"
#include "Socket/MessageType.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Session/WindowCastController.h"
#include "Session/ConnectionController.h"
#include "UI/windowCollectionView.h"
#include "Utils/LocalizedText.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Each channel of a decoded colour within this of the window's.
constexpr int kColourTolerance = 24;

bool near(uint32_t rgb, uint32_t expected)
{
    for (int shift : {16, 8, 0}) {
        if (std::abs(int((rgb >> shift) & 0xff) - int((expected >> shift) & 0xff)) > kColourTolerance)
            return false;
    }
    return true;
}

// Casting one of two solid-colour windows of our own on a private X server to a decoding TV peer,
// with the real window list and capture.
class WindowCastX11Test : public WithTvSimSession<PrivateXvfbFixture> {
protected:
    static constexpr uint32_t kRed = 0xdc1e1e;
    static constexpr uint32_t kGreen = 0x1edc3c;

    void SetUp() override
    {
        PrivateXvfbFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        display.emplace("DISPLAY", server->name());
        red.emplace(windowArguments("red-app", "Red document", "dc1e1e", "400x300+100+100"));
        green.emplace(windowArguments("green-app", "Green document", "1edc3c", "300x200+700+300"));
        for (auto& [process, id] : {std::pair{&red, &redWindow}, std::pair{&green, &greenWindow}}) {
            const std::string ready = (*process)->line(10s).value_or("");
            ASSERT_TRUE(ready.starts_with("ready "));
            *id = static_cast<Window>(std::stoul(ready.substr(6)));
        }
        client = XOpenDisplay(server->name().c_str());
        ASSERT_NE(client, nullptr);
        TvSim::Options options;
        options.decodeVideo = true;
        startSession(options, withoutSound);
        ASSERT_FALSE(HasFatalFailure());
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(loop->runUntil([&] { return state().ConnectWithTv && state().screenProjectionCode; }));
    }

    void TearDown() override
    {
        stopSession();
        if (client)
            XCloseDisplay(client);
    }

    static std::vector<std::string> windowArguments(const std::string& owner, const std::string& title,
                                                    const std::string& colour, const std::string& geometry,
                                                    const std::string& type = "normal")
    {
        return std::vector<std::string>({SOLID_WINDOW_PATH, "--owner", owner, "--title", title, "--colour", colour,
                                         "--geometry", geometry, "--type", type});
    }

    windowCollectionView& picker() { return controller->windowCast().picker(); }

    // The poll runs on real time, the reload it asks for on the loop's virtual clock: both move.
    bool serveUntil(const std::function<bool()>& done, int rounds = 100)
    {
        for (int i = 0; i < rounds; ++i) {
            if (loop->runUntil(done, 50ms))
                return true;
            loop->advance(100ms);
        }
        return done();
    }

    std::optional<size_t> indexOf(const std::string& owner)
    {
        for (size_t i = 0; i < picker().numberOfItems(); ++i)
            if (picker().windowAt(i)->windowName() == owner)
                return i;
        return std::nullopt;
    }

    // The latest decoded picture after the first `after`, once there is one.
    std::optional<TvSim::DecodedFrame> pictureAfter(size_t after)
    {
        if (!sim->waitForDecodedFrames(after + 1, 20s))
            return std::nullopt;
        return sim->decodedFrames().back();
    }

    std::optional<ScopedEnv> display;
    std::optional<ChildProcess> red;
    std::optional<ChildProcess> green;
    // The windows' X ids, as solid-window printed them.
    Window redWindow = 0;
    Window greenWindow = 0;
    Display* client = nullptr;
};

TEST_F(WindowCastX11Test, ThePickerListsWindowsFrontToBackWithoutTheDesktopsFurnitureOrItsOwn)
{
    ChildProcess dock(windowArguments("dock-app", "Panel", "202020", "1280x30+0+0", "dock"));
    ChildProcess desktop(windowArguments("desktop-app", "Desktop", "303030", "1280x720+0+0", "desktop"));
    ASSERT_TRUE(dock.line(10s).value_or("").starts_with("ready"));
    ASSERT_TRUE(desktop.line(10s).value_or("").starts_with("ready"));
    // A window of this process, as the application's own window would be.
    const Window own = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 50, 50, 0, 0, 0);
    XStoreName(client, own, "Pelkor");
    const long pid = ::getpid();
    XChangeProperty(client, own, XInternAtom(client, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(client, own);
    XSync(client, False);

    controller->windowCast().toWindowInfoView();
    const auto labels = [&] {
        std::vector<std::string> shown;
        for (size_t i = 0; i < picker().numberOfItems(); ++i)
            shown.push_back(picker().windowAt(i)->windowName());
        return shown;
    };
    // No window manager: the front window is the one raised last.
    for (const auto& [raised, order] : {std::pair{greenWindow, std::vector<std::string>{"green-app", "red-app"}},
                                        std::pair{redWindow, std::vector<std::string>{"red-app", "green-app"}}}) {
        XRaiseWindow(client, raised);
        XSync(client, False);
        EXPECT_TRUE(serveUntil([&] { return labels() == order; })) << testing::PrintToString(labels());
    }
}

TEST_F(WindowCastX11Test, TheChosenWindowIsCastFollowedWhenMovedAndItsCloseStopsTheCastOnce)
{
    controller->windowCast().toWindowInfoView();
    ASSERT_TRUE(serveUntil([&] { return indexOf("red-app") && indexOf("green-app"); }))
        << "the picker lists both windows by their owners";
    const std::set<std::string> owners{picker().windowAt(0)->windowName(), picker().windowAt(1)->windowName()};
    EXPECT_EQ(owners, (std::set<std::string>{"red-app", "green-app"}));

    picker().didSelectItem(*indexOf("red-app"));
    const int32_t redId = state().windowInfo->windowId();
    controller->windowCast().clickStartWindowScreen();
    ASSERT_TRUE(loop->runUntil([&] { return controller->casting().captureFormat().has_value(); }, 10s));
    // Let the first pictures pass: the stream may start before the window's content is drawn.
    ASSERT_TRUE(sim->waitForDecodedFrames(5, 20s));
    const auto picture = pictureAfter(5);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 720);
    EXPECT_TRUE(near(picture->centreRgb, kRed)) << std::hex << picture->centreRgb;
    // 4:3 in 16:9: bars left and right.
    EXPECT_TRUE(near(picture->leftEdgeRgb, 0x000000)) << std::hex << picture->leftEdgeRgb;

    XMoveWindow(client, static_cast<Window>(redId), 500, 350);
    XSync(client, False);
    EXPECT_TRUE(serveUntil([&] { return windowCollectionView::getWindowFrame() == WindowRect{500, 350, 400, 300}; }))
        << "the chosen window's frame is followed by the poll";

    red->stop(SIGTERM);
    ASSERT_TRUE(serveUntil([&] { return !controller->casting().castRunning(); })) << "the lost window stops the cast";
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgCastStop, 1));
    // Reports still in flight change nothing more.
    serveUntil([] { return false; }, 10);
    EXPECT_EQ(sim->receivedCount(kMsgCastStop), 1u);
    EXPECT_EQ(sim->receivedCount(kMsgCastAudioFormat), 1u) << "no cast was started again";
    EXPECT_EQ(view.callsStartingWith("toast " + LocalizedText::text("STRING_WINDOW_CLOSED")).size(), 1u);
    EXPECT_EQ(state().windowInfo, nullptr);
}

} // namespace
