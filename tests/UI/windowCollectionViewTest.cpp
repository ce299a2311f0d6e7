#include "UI/windowCollectionView.h"

#include "UI/FakeWindowSource.h"

#include "Media/EncoderH264/SelectedWindowFrame.h"
#include "Media/EncoderH264/windowInfo.h"
#include "Platform/MainLoopFixture.h"
#include "Platform/MainQueue.h"
#include "UI/SelectCollectionDelegate.h"
#include "UI/WindowCollectionDisplay.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Window = WindowListSource::Window;
using namespace std::chrono_literals;

// The grid and the delegate, each call one line.
class Recorder final : public WindowCollectionDisplay, public SelectCollectionDelegate {
public:
    std::vector<std::string> calls;

    void reloadData() override { calls.push_back("reload"); }
    void selectItem(size_t index) override { calls.push_back("selectItem " + std::to_string(index)); }
    void deselectAll() override { calls.push_back("deselectAll"); }
    void showExtendSelected(bool selected) override { calls.push_back("extend " + std::to_string(selected)); }
    void selectWindow(std::shared_ptr<windowInfo> window) override
    {
        calls.push_back("selectWindow " + std::to_string(window->windowId()));
    }
    void selectExpand() override { calls.push_back("selectExpand"); }
};

Window window(int32_t id, const std::string& owner, const std::string& title = "doc", WindowRect frame = {10, 20, 300, 200})
{
    return {id, owner, title, frame};
}

class WindowPickerTest : public MainLoopFixture {
protected:
    WindowPickerTest()
    {
        picker.setDisplay(&recorder);
        picker.setDelegate(&recorder);
        gSelectedWindowFrame.store({});
    }

    // One poll of the list now on show, and the reload it may ask for.
    void poll(std::vector<Window> windows)
    {
        source->set(std::move(windows));
        picker.querywindow();
        loop->advance(windowCollectionView::kReloadDelay);
    }

    std::vector<int32_t> ids() const
    {
        std::vector<int32_t> out;
        for (size_t i = 0; i < picker.numberOfItems(); ++i)
            out.push_back(picker.windowAt(i)->windowId());
        return out;
    }

    std::shared_ptr<FakeWindowSource> source = std::make_shared<FakeWindowSource>();
    Recorder recorder;
    // Polled on the main queue, so the virtual clock drives the timer too.
    windowCollectionView picker{source, MainQueue::shared()};
};

TEST_F(WindowPickerTest, SkipsTheDesktopsOwnersAndUntitledWindowsAndLabelsByProgram)
{
    poll({window(1, "Dock"), window(2, "gedit", "Item-0"), window(3, "gedit", ""), window(4, "xterm", "Window"),
          window(5, "gedit", "notes.txt"), window(6, "通知中心"), window(7, "gedit", "todo.txt"),
          window(8, "", "Report - Viewer")});
    ASSERT_EQ(ids(), (std::vector<int32_t>{5, 7, 8}));
    EXPECT_EQ(picker.windowAt(2)->windowName(), "Report - Viewer") << "no program known: the window's title";
    // Two windows of one program: two items with the same label.
    EXPECT_EQ(picker.windowAt(0)->windowName(), "gedit");
    EXPECT_EQ(picker.windowAt(1)->windowName(), "gedit");
    EXPECT_EQ(picker.windowAt(1)->windowFrame(), (WindowRect{10, 20, 300, 200}));
    EXPECT_GT(picker.windowAt(0)->refreshTimeStamp(), 1.0e9);
    EXPECT_EQ(picker.windowAt(3), nullptr);
}

TEST_F(WindowPickerTest, TheGridReloadsHalfASecondAfterTheIdsChangeEvenWhenTheCountStays)
{
    source->set({window(1, "a"), window(2, "b")});
    picker.querywindow();
    loop->advance(windowCollectionView::kReloadDelay - 1ms);
    EXPECT_TRUE(recorder.calls.empty());
    loop->advance(1ms);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"reload"});

    // Closed one, opened another between two polls.
    recorder.calls.clear();
    poll({window(1, "a"), window(3, "c")});
    EXPECT_EQ(ids(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"reload"});

    // Moved and retitled only: the grid stays.
    recorder.calls.clear();
    poll({window(1, "a", "other", {0, 0, 5, 5}), window(3, "c")});
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(WindowPickerTest, TheChoiceIsKeptAcrossReloadsAndClearedWhenItsWindowGoes)
{
    poll({window(1, "a"), window(2, "b", "doc", {5, 6, 7, 8})});
    recorder.calls.clear();
    picker.didSelectItem(1);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"extend 0", "selectWindow 2"}));
    EXPECT_EQ(picker.selectedWindowInfo()->windowId(), 2);

    recorder.calls.clear();
    poll({window(9, "new"), window(1, "a"), window(2, "b", "doc", {5, 6, 7, 8})});
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"reload", "selectItem 2"}));
    EXPECT_EQ(gSelectedWindowFrame.load(), (WindowRect{5, 6, 7, 8}));

    recorder.calls.clear();
    poll({window(9, "new"), window(1, "a")});
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"reload"});
    EXPECT_EQ(picker.selectedWindowInfo(), nullptr);
    // The last frame seen stays.
    EXPECT_EQ(windowCollectionView::getWindowFrame(), (WindowRect{5, 6, 7, 8}));
}

TEST_F(WindowPickerTest, TheChosenWindowsFrameIsFollowedOnEveryPollWithoutReload)
{
    poll({window(1, "a"), window(2, "b")});
    picker.didSelectItem(0);
    recorder.calls.clear();
    poll({window(1, "a", "doc", {400, 300, 640, 480}), window(2, "b")});
    EXPECT_EQ(gSelectedWindowFrame.load(), (WindowRect{400, 300, 640, 480}));
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(WindowPickerTest, TheExtendTileAndAWindowExcludeEachOther)
{
    poll({window(1, "a"), window(2, "b")});
    picker.didSelectItem(0);
    recorder.calls.clear();
    picker.selectExtension();
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"selectExpand", "extend 1", "deselectAll"}));
    EXPECT_EQ(picker.selectedWindowInfo(), nullptr);
    // A later reload selects no window behind the blue tile.
    recorder.calls.clear();
    poll({window(1, "a")});
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"reload"});

    recorder.calls.clear();
    picker.didSelectItem(0);
    picker.deselectAll();
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"extend 0", "selectWindow 1", "deselectAll", "extend 0"}));
    // Outside the list: nothing.
    recorder.calls.clear();
    picker.didSelectItem(5);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(WindowPickerTest, WithoutDisplayOrDelegateChoicesAndReloadsDoNothing)
{
    picker.setDisplay(nullptr);
    picker.setDelegate(nullptr);
    poll({window(1, "a")});
    picker.didSelectItem(0);
    picker.selectExtension();
    EXPECT_EQ(picker.numberOfItems(), 1u);
}

TEST_F(WindowPickerTest, ThePollStartsOnceHoweverOftenItIsAsked)
{
    source->set({window(1, "a")});
    picker.startFindWindowTimer();
    picker.startFindWindowTimer();
    loop->runUntilIdle();
    EXPECT_EQ(source->polls.load(), 1);
    loop->advance(windowCollectionView::kPollInterval - 1ms);
    // Asked again while it runs: no extra poll now, and the schedule stays.
    picker.startFindWindowTimer();
    loop->runUntilIdle();
    EXPECT_EQ(source->polls.load(), 1);
    loop->advance(1ms);
    EXPECT_EQ(source->polls.load(), 2);

    picker.stopFindWindowTimer();
    loop->advance(windowCollectionView::kPollInterval * 3);
    EXPECT_EQ(source->polls.load(), 2);
    picker.startFindWindowTimer();
    loop->runUntilIdle();
    EXPECT_EQ(source->polls.load(), 3);
}

// Holds the poll inside the list until the test lets it go.
class BlockingSource final : public WindowListSource {
public:
    std::vector<Window> onScreenWindows() override
    {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return {window(1, "a")};
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
};

TEST_F(WindowPickerTest, APollStillRunningWhenThePickerGoesReachesNobody)
{
    auto blocking = std::make_shared<BlockingSource>();
    auto doomed = std::make_unique<windowCollectionView>(blocking);
    doomed->setDisplay(&recorder);
    doomed->startFindWindowTimer();
    {
        std::unique_lock lock(blocking->mutex);
        blocking->changed.wait(lock, [&] { return blocking->entered; });
    }
    doomed.reset();
    {
        std::lock_guard lock(blocking->mutex);
        blocking->released = true;
    }
    blocking->changed.notify_all();
    // The reload it asks for finds the picker gone.
    ASSERT_TRUE(loop->runUntil([&] { return blocking.use_count() == 1; }));
    loop->advance(windowCollectionView::kReloadDelay);
    EXPECT_TRUE(recorder.calls.empty());
}

} // namespace
