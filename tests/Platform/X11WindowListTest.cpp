#include "Platform/X11Fixture.h"
#include "Platform/X11WindowList.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class X11WindowListTest : public X11Fixture {
protected:
    const X11WindowList::Record* find(const std::vector<X11WindowList::Record>& records, Window window)
    {
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const X11WindowList::Record& record) { return record.id == window; });
        return it == records.end() ? nullptr : &*it;
    }

    void setUtf8Name(Window window, const std::string& name)
    {
        XChangeProperty(client, window, XInternAtom(client, "_NET_WM_NAME", False),
                        XInternAtom(client, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(name.data()), static_cast<int>(name.size()));
    }

    // What a window manager announces: the windows it manages.
    void setClientList(const std::vector<Window>& windows)
    {
        std::vector<long> ids(windows.begin(), windows.end());
        XChangeProperty(client, DefaultRootWindow(client), XInternAtom(client, "_NET_CLIENT_LIST", False),
                        XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(ids.data()),
                        static_cast<int>(ids.size()));
        XSync(client, False);
    }
};

TEST_F(X11WindowListTest, ClientListGivesShownLiveWindowsWithUtf8NamesAndFrames)
{
    const Window shown = showWindow(30, 40, 300, 200, 0x112233);
    setUtf8Name(shown, "Präsentation – Folie 1");
    const long pid = 4242;
    XChangeProperty(client, shown, XInternAtom(client, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    const Window unnamed = showWindow(0, 0, 20, 20, 0x112233);
    const Window hidden = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 10, 10, 0, 0, 0);
    const Window destroyed = showWindow(0, 0, 20, 20, 0x112233);
    showWindow(500, 40, 50, 50, 0x445566); // shown, but not in the manager's list
    setClientList({hidden, destroyed, shown, unnamed});
    XDestroyWindow(client, destroyed);
    XSync(client, False);

    X11WindowList list(*display);
    const std::vector<X11WindowList::Record> records = list.windows();
    XDeleteProperty(client, DefaultRootWindow(client), XInternAtom(client, "_NET_CLIENT_LIST", False));
    XSync(client, False);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id, shown);
    EXPECT_EQ(records[0].name, "Präsentation – Folie 1");
    EXPECT_EQ(records[0].frame, (PixelRect{30, 40, 300, 200}));
    EXPECT_EQ(records[0].pid, 4242);
    EXPECT_EQ(records[1].id, unnamed);
    EXPECT_TRUE(records[1].name.empty());
    EXPECT_EQ(records[1].pid, 0);
}

TEST_F(X11WindowListTest, WithoutAManagerTheShownTopLevelWindowsAreListedByTheirLatin1Name)
{
    const Window shown = showWindow(60, 70, 80, 90, 0x112233);
    XStoreName(client, shown, "Caf\xe9");
    const Window hidden = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 10, 10, 0, 0, 0);
    XSync(client, False);

    X11WindowList list(*display);
    const std::vector<X11WindowList::Record> records = list.windows();
    const X11WindowList::Record* record = find(records, shown);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->name, "Café");
    EXPECT_EQ(record->frame, (PixelRect{60, 70, 80, 90}));
    EXPECT_EQ(find(records, hidden), nullptr);
}

} // namespace
