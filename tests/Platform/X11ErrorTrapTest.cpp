#include "Platform/X11ErrorTrap.h"
#include "Platform/X11Fixture.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

int gOuterErrors = 0;

int countError(Display*, XErrorEvent*)
{
    ++gOuterErrors;
    return 0;
}

class X11ErrorTrapTest : public X11Fixture {};

TEST_F(X11ErrorTrapTest, ErrorsOfTheTrappedConnectionBecomeValuesAndTheOuterHandlerReturns)
{
    gOuterErrors = 0;
    XSetErrorHandler(countError);
    Display* handle = display->handle();
    XWindowAttributes attributes{};
    {
        X11ErrorTrap trap(handle);
        EXPECT_EQ(trap.sync().code, 0);
        XGetWindowAttributes(handle, 0x1fffff0, &attributes);
        EXPECT_EQ(trap.sync().code, BadWindow);
        // The first error is the one kept.
        XMapWindow(handle, 0x1fffff1);
        XFreePixmap(handle, 0x1fffff2);
        EXPECT_EQ(trap.sync().code, BadWindow);
        EXPECT_EQ(trap.error().requestCode, 3); // GetWindowAttributes

        // Another connection's errors still go to the handler that was there before.
        XGetWindowAttributes(client, 0x1fffff0, &attributes);
        EXPECT_EQ(gOuterErrors, 1);
    }
    XGetWindowAttributes(handle, 0x1fffff0, &attributes);
    EXPECT_EQ(gOuterErrors, 2);
    EXPECT_EQ(XSetErrorHandler(nullptr), countError);
}

TEST_F(X11ErrorTrapTest, NestedTrapTakesOverAndHandsBack)
{
    Display* handle = display->handle();
    X11ErrorTrap outer(handle);
    {
        X11ErrorTrap inner(handle);
        XMapWindow(handle, 0x1fffff1);
        EXPECT_EQ(inner.sync().code, BadWindow);
    }
    EXPECT_EQ(outer.sync().code, 0);
    XMapWindow(handle, 0x1fffff1);
    EXPECT_EQ(outer.sync().code, BadWindow);
}

TEST_F(X11ErrorTrapTest, TrapsOfDifferentConnectionsNeverWaitForEachOther)
{
    std::promise<void> trapped;
    std::promise<void> release;
    std::thread holder([&] {
        X11ErrorTrap trap(display->handle());
        trapped.set_value();
        release.get_future().wait();
    });
    trapped.get_future().wait();
    // The other connection's trap, on another thread, while the first is held.
    auto other = std::async(std::launch::async, [this] {
        X11ErrorTrap trap(client);
        XWindowAttributes attributes{};
        XGetWindowAttributes(client, 0x1fffff0, &attributes);
        return trap.sync().code;
    });
    const bool tookItsTurnAlone = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.set_value();
    holder.join();
    EXPECT_TRUE(tookItsTurnAlone) << "a trap of one connection waited for a trap of another";
    EXPECT_EQ(other.get(), BadWindow);
}

TEST_F(X11ErrorTrapTest, DisplayIsOpenedByNameOrFromTheEnvironment)
{
    {
        ScopedEnv none("DISPLAY", std::nullopt);
        EXPECT_EQ(X11Display::open(), nullptr);
    }
    EXPECT_EQ(X11Display::open("/nonexistent/x11-socket:0"), nullptr);
    ScopedEnv fromServer("DISPLAY", server->name());
    const std::unique_ptr<X11Display> fromEnvironment = X11Display::open();
    ASSERT_TRUE(fromEnvironment);
    EXPECT_EQ(fromEnvironment->name(), server->name());
}

} // namespace
