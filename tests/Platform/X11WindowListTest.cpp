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

    // What a window manager announces: the windows it manages, under `list` of the root.
    void setClientList(const std::vector<Window>& windows, const char* list = "_NET_CLIENT_LIST")
    {
        setLongs(DefaultRootWindow(client), list, XA_WINDOW, {windows.begin(), windows.end()});
    }
    void clearClientLists()
    {
        for (const char* list : {"_NET_CLIENT_LIST", "_NET_CLIENT_LIST_STACKING"})
            XDeleteProperty(client, DefaultRootWindow(client), XInternAtom(client, list, False));
        XSync(client, False);
    }
    void setLongs(Window window, const char* property, Atom type, const std::vector<long>& values)
    {
        XChangeProperty(client, window, XInternAtom(client, property, False), type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
        XSync(client, False);
    }
    void setTypes(Window window, const std::vector<const char*>& types)
    {
        std::vector<long> atoms;
        for (const char* type : types)
            atoms.push_back(static_cast<long>(XInternAtom(client, type, False)));
        setLongs(window, "_NET_WM_WINDOW_TYPE", XA_ATOM, atoms);
    }
    static std::vector<uint32_t> ids(const std::vector<X11WindowList::Record>& records)
    {
        std::vector<uint32_t> out;
        for (const X11WindowList::Record& record : records)
            out.push_back(record.id);
        return out;
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

    X11WindowList list(*display, 0);
    const std::vector<X11WindowList::Record> records = list.windows();
    clearClientLists();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].id, shown);
    EXPECT_EQ(records[0].name, "Präsentation – Folie 1");
    EXPECT_EQ(records[0].frame, (PixelRect{30, 40, 300, 200}));
    EXPECT_EQ(records[0].pid, 4242);
    EXPECT_EQ(records[1].id, unnamed);
    EXPECT_TRUE(records[1].name.empty());
    EXPECT_EQ(records[1].pid, 0);
}

TEST_F(X11WindowListTest, WithoutAManagerTheShownTopLevelWindowsAreListedFrontToBackByTheirLatin1Name)
{
    const Window below = showWindow(10, 10, 20, 20, 0x112233);
    const Window shown = showWindow(60, 70, 80, 90, 0x112233);
    XStoreName(client, shown, "Caf\xe9");
    const Window hidden = XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 10, 10, 0, 0, 0);
    XSync(client, False);

    X11WindowList list(*display, 0);
    const std::vector<X11WindowList::Record> records = list.windows();
    const X11WindowList::Record* record = find(records, shown);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->name, "Café");
    EXPECT_EQ(record->frame, (PixelRect{60, 70, 80, 90}));
    EXPECT_EQ(find(records, hidden), nullptr);
    ASSERT_NE(find(records, below), nullptr);
    EXPECT_LT(record, find(records, below)) << "the window mapped last lies on top";
}

TEST_F(X11WindowListTest, TheStackingListGivesTheFrontWindowFirstWithoutFurnitureOrThisProgramsWindows)
{
    const Window bottom = showWindow(0, 0, 40, 40, 0x112233);
    const Window top = showWindow(50, 0, 40, 40, 0x112233);
    const Window own = showWindow(100, 0, 40, 40, 0x112233);
    setLongs(own, "_NET_WM_PID", XA_CARDINAL, {777});
    const Window dock = showWindow(150, 0, 40, 40, 0x112233);
    setTypes(dock, {"_NET_WM_WINDOW_TYPE_DOCK"});
    const Window desktop = showWindow(200, 0, 40, 40, 0x112233);
    setTypes(desktop, {"_NET_WM_WINDOW_TYPE_DESKTOP"});
    const Window note = showWindow(250, 0, 40, 40, 0x112233);
    setTypes(note, {"_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_NORMAL"});
    const Window tip = showWindow(300, 0, 40, 40, 0x112233);
    setTypes(tip, {"_NET_WM_WINDOW_TYPE_TOOLTIP"});
    const Window dialog = showWindow(350, 0, 40, 40, 0x112233);
    setTypes(dialog, {"_NET_WM_WINDOW_TYPE_DIALOG"});
    // The stacking list runs bottom to top and wins over the plain list's order.
    setClientList({top, dialog, bottom, own, dock, desktop, note, tip});
    setClientList({desktop, bottom, dock, note, tip, dialog, own, top}, "_NET_CLIENT_LIST_STACKING");

    X11WindowList list(*display, 777);
    const std::vector<uint32_t> records = ids(list.windows());
    clearClientLists();
    EXPECT_EQ(records, (std::vector<uint32_t>{uint32_t(top), uint32_t(dialog), uint32_t(bottom)}));
}

} // namespace
