#include "Platform/X11DisplayList.h"
#include "Platform/X11Fixture.h"
#include "Platform/X11ScreenCapture.h"

#include <gtest/gtest.h>

#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace {

class X11DisplayListTest : public X11Fixture {
protected:
    // A virtual monitor right of the screen's output, backed by no output, until the test ends.
    Atom addVirtualMonitor(const char* name)
    {
        XRRMonitorInfo* monitor = XRRAllocateMonitor(client, 0);
        monitor->name = XInternAtom(client, name, False);
        monitor->x = 1280;
        monitor->y = 0;
        monitor->width = 640;
        monitor->height = 480;
        monitor->mwidth = 160;
        monitor->mheight = 120;
        XRRSetMonitor(client, DefaultRootWindow(client), monitor);
        const Atom atom = monitor->name;
        XRRFreeMonitors(monitor);
        XSync(client, False);
        added.push_back(atom);
        return atom;
    }

    void TearDown() override
    {
        for (const Atom atom : added) {
            XRRDeleteMonitor(client, DefaultRootWindow(client), atom);
        }
        if (client != nullptr) {
            XSync(client, False);
        }
        X11Fixture::TearDown();
    }

    std::vector<Atom> added;
};

TEST_F(X11DisplayListTest, TheScreensOutputIsListedOnceByItsOutputId)
{
    ASSERT_TRUE(display->hasRandrMonitors());
    X11DisplayList list(*display);
    const std::vector<X11DisplayList::DisplayInfo> displays = list.displays();
    // The server's own monitor over that output is not listed again.
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays.front().frame, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(displays.front().id & X11DisplayList::kMonitorIdFlag, 0u);
    EXPECT_NE(displays.front().id, 0u);
    EXPECT_TRUE(X11DisplayList::checkVirtualDisplay(displays.front().id, server->name()));
    EXPECT_FALSE(X11DisplayList::checkVirtualDisplay(0x1234567, server->name()));
    EXPECT_FALSE(X11DisplayList::checkVirtualDisplay(0, server->name()));
}

TEST_F(X11DisplayListTest, AVirtualMonitorIsADisplayWhileItExists)
{
    const Atom name = addVirtualMonitor("PELKOR-VIRTUAL");
    const uint32_t id = X11DisplayList::monitorId(name);
    X11DisplayList list(*display);
    const std::optional<X11DisplayList::DisplayInfo> found = list.find(id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "PELKOR-VIRTUAL");
    EXPECT_EQ(found->frame, (Rect{1280, 0, 640, 480}));
    EXPECT_EQ(list.displays().size(), 2u);
    EXPECT_TRUE(X11DisplayList::checkVirtualDisplay(id, server->name()));
    // Its name alone, which may equal an output id, names no display.
    EXPECT_FALSE(list.find(static_cast<uint32_t>(name)));

    // The capture sees the same displays.
    X11ScreenCapture capture(*display);
    const auto displays = capture.displays();
    EXPECT_TRUE(std::any_of(displays.begin(), displays.end(), [id](const auto& info) { return info.id == id; }));

    XRRDeleteMonitor(client, DefaultRootWindow(client), name);
    XSync(client, False);
    added.clear();
    EXPECT_FALSE(X11DisplayList::checkVirtualDisplay(id, server->name()));
}

TEST(X11DisplayListWithoutDisplay, NoDisplayIsAttached)
{
    EXPECT_FALSE(X11DisplayList::checkVirtualDisplay(1, ":59999"));
}

} // namespace
