#include "Session/PrivateXvfbFixture.h"
#include "Session/TvControlSession.h"

#include "Platform/PostEvent.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/TCPManager.h"
#include "Socket/TouchPayload.h"
#include "Session/CastingController.h"
#include "Session/MainWindowController.h"
#include "Session/ConnectionController.h"
#include "Session/TvControlController.h"
#include "tv-sim/TvSim.h"

// Xlib's macros break gtest's headers that come after them.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The TV's touches and keys through the link and the controller to a private X server: a full-screen
// window of this test's own connection reads the pointer and the events they made.
class TvControlX11Test : public PrivateXvfbFixture {
protected:
    void SetUp() override
    {
        PrivateXvfbFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        client = XOpenDisplay(server->name().c_str());
        ASSERT_NE(client, nullptr);
        window = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 1280, 720, 0, 0, 0);
        XSelectInput(client, window, ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask);
        XMapWindow(client, window);
        XSync(client, False);
        XSetInputFocus(client, window, RevertToParent, CurrentTime);
        XSync(client, False);

        poster.emplace(server->name());
        InputPosting input;
        input.postMouseEvent = [this](uint32_t button, uint32_t type, double x, double y, int64_t count) {
            return poster->postMouseEvent(button, type, {x, y}, count);
        };
        input.postKeyboardEvent = [this](uint16_t key, bool down, uint64_t flags) {
            return poster->postKeyboardEvent(key, down, flags);
        };
        // The cast shows the whole X screen, pixel for pixel at 1280 x 720.
        session.connect(*loop, CastDisplay{0, {0, 0, 1280, 720}}, std::move(input));
    }

    void TearDown() override
    {
        session.end(*loop);
        if (client != nullptr)
            XCloseDisplay(client);
    }

    void cast() { session.cast(*loop); }
    // Sends as the TV does; what it did shows on the X server once the controller has handled it.
    void touch(uint16_t type, int32_t x, int32_t y) { session.touch(type, x, y); }
    void key(int32_t code) { session.key(code); }

    // Until the window has received `count` events (kept in `seen`), or the X server's pointer is as asked.
    bool awaitEvents(size_t count)
    {
        return loop->runUntil([&] { return events().size() >= count; }, 10s);
    }
    bool awaitPointer(int x, int y, unsigned buttons)
    {
        return loop->runUntil([&] {
            const Pointer now = pointer();
            return now.x == x && now.y == y && now.buttons == buttons;
        }, 10s);
    }

    struct Pointer {
        int x = 0;
        int y = 0;
        unsigned buttons = 0;
    };
    Pointer pointer()
    {
        Window root = 0;
        Window child = 0;
        int rootX = 0;
        int rootY = 0;
        int x = 0;
        int y = 0;
        unsigned mask = 0;
        XQueryPointer(client, DefaultRootWindow(client), &root, &child, &rootX, &rootY, &x, &y, &mask);
        return {rootX, rootY, mask & (Button1Mask | Button3Mask)};
    }

    // The events the window received so far, as "press 1", "release 3", "key Escape", "keyup Left".
    const std::vector<std::string>& events()
    {
        XSync(client, False);
        while (XPending(client) > 0) {
            XEvent event;
            XNextEvent(client, &event);
            if (event.type == ButtonPress || event.type == ButtonRelease) {
                seen.push_back(std::string(event.type == ButtonPress ? "press " : "release ") +
                               std::to_string(event.xbutton.button));
            } else if (event.type == KeyPress || event.type == KeyRelease) {
                const KeySym sym = XLookupKeysym(&event.xkey, 0);
                const char* name = XKeysymToString(sym);
                seen.push_back(std::string(event.type == KeyPress ? "key " : "keyup ") + (name ? name : "?"));
            }
        }
        return seen;
    }

    std::vector<std::string> seen;
    Display* client = nullptr;
    Window window = 0;
    std::optional<PostEvent> poster;
    TvControlSession session;
};

// Touches and keys sent while idle come first through the same road as the later ones, so once the
// later ones show, the earlier ones have been handled: and did nothing.
TEST_F(TvControlX11Test, TouchesMoveAndClickThePointerOnlyWhileCasting)
{
    touch(kMsgTouchDown, 300, 200);
    touch(kMsgTouchUp, 300, 200);
    cast();
    touch(kMsgTouchDown, 400, 300);
    ASSERT_TRUE(awaitPointer(400, 300, Button1Mask));
    touch(kMsgTouchMove, 500, 350);
    ASSERT_TRUE(awaitPointer(500, 350, Button1Mask));
    touch(kMsgTouchUp, 5000, 9000);
    EXPECT_TRUE(awaitPointer(1279, 719, 0)) << "clamped to the cast display";
    ASSERT_TRUE(awaitEvents(2));
    EXPECT_EQ(events(), (std::vector<std::string>{"press 1", "release 1"}));
}

TEST_F(TvControlX11Test, AQuickSecondTapClicksTwiceAndALongPressClicksRight)
{
    cast();
    touch(kMsgTouchDown, 100, 100);
    touch(kMsgTouchUp, 100, 100);
    touch(kMsgTouchDown, 110, 105);
    touch(kMsgTouchUp, 110, 105);
    ASSERT_TRUE(awaitPointer(110, 105, 0));
    ASSERT_TRUE(awaitEvents(4));
    EXPECT_EQ(std::count(events().begin(), events().end(), "press 1"), 2) << "a double click: two presses";
    EXPECT_EQ(pointer().buttons, 0u);

    seen.clear();
    const std::vector<uint8_t> held = TouchPayload{200, 150, 0, 0}.encodeLittleEndian();
    session.controller->tvControl().onTvcontrolReceived(kPointerLongPress, held.data(), static_cast<int64_t>(held.size()));
    loop->runUntilIdle();
    ASSERT_TRUE(awaitEvents(2));
    EXPECT_EQ(events(), (std::vector<std::string>{"press 3", "release 3"}));
    EXPECT_EQ(pointer().x, 200);
}

// The TV's release of a held press comes after its cast is gone and is dropped: the end of the cast,
// and the end of the link, release the button themselves, where the TV last moved it.
TEST_F(TvControlX11Test, APressTheTvHoldsIsReleasedWhenTheCastStopsAndWhenTheLinkEnds)
{
    cast();
    touch(kMsgTouchDown, 400, 300);
    ASSERT_TRUE(awaitPointer(400, 300, Button1Mask));
    touch(kMsgTouchMove, 500, 350);
    ASSERT_TRUE(awaitPointer(500, 350, Button1Mask));
    session.controller->casting().clickStopScreenBtn();
    EXPECT_TRUE(awaitPointer(500, 350, 0)) << "still held after the cast stopped";

    cast();
    touch(kMsgTouchDown, 200, 100);
    ASSERT_TRUE(awaitPointer(200, 100, Button1Mask));
    session.sim->closeLink();
    EXPECT_TRUE(awaitPointer(200, 100, 0)) << "still held after the link ended";
    EXPECT_FALSE(session.controller->state().ConnectWithTv);
}

TEST_F(TvControlX11Test, TheTvsKeysGoThroughTheKeyTable)
{
    key(0xEF5E);
    cast();
    key(0xEF5B);
    key(0xEF5C);
    key(0xEF5D);
    key(0x41);
    key(0xEF5E);
    ASSERT_TRUE(awaitEvents(6));
    EXPECT_EQ(events(), (std::vector<std::string>{"key Left", "keyup Left", "key Right", "keyup Right", "key Escape",
                                                  "keyup Escape"}));
}

} // namespace
