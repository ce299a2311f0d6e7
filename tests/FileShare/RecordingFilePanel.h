#pragma once

#include "FileShare/FilePanelView.h"
#include "FileShare/TransferProgress.h"

#include <functional>
#include <string>
#include <vector>

// A FilePanelView for tests: records its calls into the given list and keeps the open replace question.
class RecordingFilePanel final : public FilePanelView {
public:
    explicit RecordingFilePanel(std::vector<std::string>& calls) : calls_(calls) {}

    std::function<void()> pendingReplace;
    // The last push progress shown, kept apart from the calls: how often it comes depends on the clock.
    TransferProgress push;

    void reloadData() override { calls_.push_back("reloadData"); }
    void setButtonsEnabled(bool enabled) override { calls_.push_back("buttons " + std::to_string(enabled)); }
    void askToReplace(std::function<void()> replace) override
    {
        calls_.push_back("askToReplace");
        pendingReplace = std::move(replace);
    }
    void showPushFailure(const std::string& reason) override { calls_.push_back("pushFailure " + reason); }
    void showPushReceived(const std::string& message) override { calls_.push_back("pushReceived " + message); }
    void showPushProgress(const TransferProgress& progress) override { push = progress; }

private:
    std::vector<std::string>& calls_;
};
