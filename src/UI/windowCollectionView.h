#pragma once

#include "Utils/Rect.h"
#include "Platform/DispatchTimer.h"
#include "UI/WindowListSource.h"
#include "Utils/ThreadAffinity.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DispatchQueue;
class SelectCollectionDelegate;
class WindowCollectionDisplay;
class windowInfo;

// The window picker's rules: polls the platform's window list every 0.7 s, keeps the windows shown
// (windowInfoArray) and the user's choice, keeps gSelectedWindowFrame on the chosen window's frame,
// and reports the choice to its delegate.
//
// Threads: made, used and destroyed on the main thread (asserted), except querywindow and
// refreshWindowList, which the poll runs on its queue. The list and the choice are shared between the
// two under one lock; the grid changes only on the main queue.
class windowCollectionView {
public:
    static constexpr std::chrono::milliseconds kPollInterval{700};
    // The grid reloads this long after a poll that changed the list.
    static constexpr std::chrono::milliseconds kReloadDelay{500};

    // Windows of these owners, or with these names, are never listed.
    static bool skipsOwner(const std::string& ownerName);
    static bool skipsWindowName(const std::string& windowName);

    // pollQueue: where querywindow runs (default: the global queue).
    explicit windowCollectionView(std::shared_ptr<WindowListSource> source,
                                  std::shared_ptr<DispatchQueue> pollQueue = nullptr);
    // Stops the poll; a poll still running finishes without reaching the grid or the delegate.
    ~windowCollectionView();
    windowCollectionView(const windowCollectionView&) = delete;
    windowCollectionView& operator=(const windowCollectionView&) = delete;

    // Not owned; nullptr: choices go nowhere.
    void setDelegate(SelectCollectionDelegate* delegate);
    // Not owned; nullptr: nothing shows.
    void setDisplay(WindowCollectionDisplay* display);

    // The poll runs at once, then every kPollInterval. Asking again while it runs changes nothing.
    void startFindWindowTimer();
    void stopFindWindowTimer();
    bool findWindowTimerRunning() const { return timerRunning_; }

    // The frame the capture reads: the chosen window's as last polled.
    static Rect getWindowFrame();

    // --- The grid's data source, main thread.
    size_t numberOfItems() const;
    // The window at `index`; nullptr outside the list.
    std::shared_ptr<windowInfo> windowAt(size_t index) const;

    // --- The user's choices, main thread.
    // The grid item at `index` was chosen: the Extend tile turns grey, the delegate is told.
    void didSelectItem(size_t index);
    // The Extend tile was chosen: it turns blue, every window is deselected, the delegate is told.
    void selectExtension();
    // No choice: no window selected, the Extend tile grey.
    void deselectAll();
    std::shared_ptr<windowInfo> selectedWindowInfo() const;

    // --- One poll, on the poll queue (tests call them directly).
    void querywindow();
    void refreshWindowList(std::vector<std::shared_ptr<windowInfo>> windows);

private:
    class Shared;

    std::shared_ptr<Shared> shared_;
    DispatchTimer findWindowTimer_;
    bool timerRunning_ = false;
    ThreadAffinity mainThread_;
};
