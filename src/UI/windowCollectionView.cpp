#include "UI/windowCollectionView.h"

#include "Media/EncoderH264/SelectedWindowFrame.h"
#include "Media/EncoderH264/windowInfo.h"
#include "Platform/GlobalQueue.h"
#include "Platform/MainQueue.h"
#include "UI/SelectCollectionDelegate.h"
#include "UI/WindowCollectionDisplay.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <chrono>
#include <mutex>
#include <string_view>
#include <utility>

namespace {

// Owners whose windows are the desktop's own furniture, not something to cast.
constexpr std::array<std::string_view, 10> kSkippedOwners{
    "SystemUIServer", "Window Server", "TextInputMenuAgent", "Control Center", "Dock",
    "FSMenuApp",      "控制中心",      "通知中心",           "聚焦",           "程序坞"};
constexpr std::array<std::string_view, 2> kSkippedNames{"Item-0", "Window"};

double secondsSince1970()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool sameWindows(const std::vector<std::shared_ptr<windowInfo>>& a, const std::vector<std::shared_ptr<windowInfo>>& b)
{
    return std::ranges::equal(a, b, [](const auto& x, const auto& y) { return x->windowId() == y->windowId(); });
}

} // namespace

// What the poll and the main thread share; the poll holds it while it runs, so the picker may go meanwhile.
class windowCollectionView::Shared : public std::enable_shared_from_this<Shared> {
public:
    explicit Shared(std::shared_ptr<WindowListSource> source) : source_(std::move(source)) {}

    // Poll queue.
    void querywindow();
    void refreshWindowList(std::vector<std::shared_ptr<windowInfo>> windows);

    // Main thread.
    void reload();
    size_t count() const
    {
        std::lock_guard lock(mutex_);
        return windowInfoArray_.size();
    }
    std::shared_ptr<windowInfo> windowAt(size_t index) const
    {
        std::lock_guard lock(mutex_);
        return index < windowInfoArray_.size() ? windowInfoArray_[index] : nullptr;
    }
    std::shared_ptr<windowInfo> selected() const
    {
        std::lock_guard lock(mutex_);
        return selectedWindowInfo_;
    }
    void select(std::shared_ptr<windowInfo> window)
    {
        std::lock_guard lock(mutex_);
        selectedWindowInfo_ = std::move(window);
    }

    // Main thread only.
    WindowCollectionDisplay* display = nullptr;
    SelectCollectionDelegate* delegate = nullptr;

private:
    const std::shared_ptr<WindowListSource> source_;
    mutable std::mutex mutex_;
    // Guarded by mutex_.
    std::vector<std::shared_ptr<windowInfo>> windowInfoArray_;
    std::shared_ptr<windowInfo> selectedWindowInfo_;
};

void windowCollectionView::Shared::querywindow()
{
    std::vector<std::shared_ptr<windowInfo>> windows;
    const double now = secondsSince1970();
    for (const WindowListSource::Window& window : source_->onScreenWindows()) {
        if (skipsOwner(window.ownerName) || skipsWindowName(window.windowName))
            continue;
        // The label names the program, not the window's own title, unless no program is known.
        const std::string& label = window.ownerName.empty() ? window.windowName : window.ownerName;
        windows.push_back(std::make_shared<windowInfo>(window.windowId, label, window.frame, now));
    }
    refreshWindowList(std::move(windows));
}

void windowCollectionView::Shared::refreshWindowList(std::vector<std::shared_ptr<windowInfo>> windows)
{
    std::unique_lock lock(mutex_);
    if (selectedWindowInfo_) {
        const int32_t chosen = selectedWindowInfo_->windowId();
        const auto found = std::ranges::find_if(windows, [&](const auto& w) { return w->windowId() == chosen; });
        if (found != windows.end())
            gSelectedWindowFrame.store((*found)->windowFrame());
    }
    // The ids, not only their count: a window closed and another opened between two polls is a change.
    if (sameWindows(windows, windowInfoArray_))
        return;
    windowInfoArray_ = std::move(windows);
    lock.unlock();
    // Main queue, after kReloadDelay; nothing once the picker is gone.
    MainQueue::shared()->asyncAfter(kReloadDelay, [weak = weak_from_this()] {
        if (const auto self = weak.lock())
            self->reload();
    });
}

void windowCollectionView::Shared::reload()
{
    std::optional<size_t> position;
    {
        std::lock_guard lock(mutex_);
        if (selectedWindowInfo_) {
            const int32_t chosen = selectedWindowInfo_->windowId();
            const auto found =
                std::ranges::find_if(windowInfoArray_, [&](const auto& w) { return w->windowId() == chosen; });
            if (found == windowInfoArray_.end())
                selectedWindowInfo_.reset();
            else
                position = static_cast<size_t>(found - windowInfoArray_.begin());
        }
    }
    if (!display)
        return;
    display->reloadData();
    if (position)
        display->selectItem(*position);
}

bool windowCollectionView::skipsOwner(const std::string& ownerName)
{
    return std::ranges::find(kSkippedOwners, ownerName) != kSkippedOwners.end();
}

bool windowCollectionView::skipsWindowName(const std::string& windowName)
{
    return windowName.empty() || std::ranges::find(kSkippedNames, windowName) != kSkippedNames.end();
}

windowCollectionView::windowCollectionView(std::shared_ptr<WindowListSource> source,
                                           std::shared_ptr<DispatchQueue> pollQueue)
    : shared_(std::make_shared<Shared>(std::move(source))),
      findWindowTimer_(pollQueue ? std::move(pollQueue) : GlobalQueue::shared(),
                       [weak = std::weak_ptr<Shared>(shared_)] {
                           if (const auto shared = weak.lock())
                               shared->querywindow();
                       })
{
    assert(mainThread_.holds());
}

windowCollectionView::~windowCollectionView()
{
    assert(mainThread_.holds());
    findWindowTimer_.cancel();
    // A poll still running keeps the shared part; its reload then reaches nobody.
    shared_->display = nullptr;
    shared_->delegate = nullptr;
}

void windowCollectionView::setDelegate(SelectCollectionDelegate* delegate)
{
    assert(mainThread_.holds());
    shared_->delegate = delegate;
}

void windowCollectionView::setDisplay(WindowCollectionDisplay* display)
{
    assert(mainThread_.holds());
    shared_->display = display;
}

void windowCollectionView::startFindWindowTimer()
{
    assert(mainThread_.holds());
    // A second start would restart the schedule and poll again at once.
    if (timerRunning_)
        return;
    timerRunning_ = true;
    findWindowTimer_.start(std::chrono::milliseconds(0), kPollInterval);
}

void windowCollectionView::stopFindWindowTimer()
{
    assert(mainThread_.holds());
    timerRunning_ = false;
    findWindowTimer_.cancel();
}

WindowRect windowCollectionView::getWindowFrame()
{
    return gSelectedWindowFrame.load();
}

size_t windowCollectionView::numberOfItems() const
{
    return shared_->count();
}

std::shared_ptr<windowInfo> windowCollectionView::windowAt(size_t index) const
{
    return shared_->windowAt(index);
}

void windowCollectionView::didSelectItem(size_t index)
{
    assert(mainThread_.holds());
    const std::shared_ptr<windowInfo> window = shared_->windowAt(index);
    if (!window)
        return;
    if (shared_->display)
        shared_->display->showExtendSelected(false);
    shared_->select(window);
    if (shared_->delegate)
        shared_->delegate->selectWindow(window);
}

void windowCollectionView::selectExtension()
{
    assert(mainThread_.holds());
    // The choice is the tile or one window, never both: a later reload must not select a window again.
    shared_->select(nullptr);
    if (shared_->delegate)
        shared_->delegate->selectExpand();
    if (shared_->display) {
        shared_->display->showExtendSelected(true);
        shared_->display->deselectAll();
    }
}

void windowCollectionView::deselectAll()
{
    assert(mainThread_.holds());
    shared_->select(nullptr);
    if (shared_->display) {
        shared_->display->deselectAll();
        shared_->display->showExtendSelected(false);
    }
}

std::shared_ptr<windowInfo> windowCollectionView::selectedWindowInfo() const
{
    return shared_->selected();
}

void windowCollectionView::querywindow()
{
    shared_->querywindow();
}

void windowCollectionView::refreshWindowList(std::vector<std::shared_ptr<windowInfo>> windows)
{
    shared_->refreshWindowList(std::move(windows));
}
