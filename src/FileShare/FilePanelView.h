#pragma once

#include <functional>
#include <string>

struct TransferProgress;

// What the file panel shows: the grid (the add tile, then one tile per file of the panel, in order),
// its two action buttons, and the replace question. Main thread.
class FilePanelView {
public:
    virtual ~FilePanelView() = default;

    // Rebuilds every tile from the panel's files, all unticked.
    virtual void reloadData() = 0;
    // Delete and push: enabled (blue) or disabled (grey).
    virtual void setButtonsEnabled(bool enabled) = 0;
    // The pop-up asking whether to replace a listed file of the same name. OK runs `replace`, Cancel
    // only closes it. A question asked while one is open replaces its `replace`: one pop-up shows.
    virtual void askToReplace(std::function<void()> replace) = 0;
    // A push that could not start, and why, in front of the panel; the ticks stay for another try.
    virtual void showPushFailure(const std::string& reason) = 0;
    // The files pushed since the panel was emptied: each one's bytes copied for the TV on its tile, the
    // sums under the grid (nothing when there are no files).
    virtual void showPushProgress(const TransferProgress& push) = 0;
    // The TV's word that it received a push, as a toast in front of the panel.
    virtual void showPushReceived(const std::string& message) = 0;
};
