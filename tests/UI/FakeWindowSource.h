#pragma once

#include "UI/WindowListSource.h"

#include <atomic>
#include <mutex>
#include <vector>

// A window list fed by hand; any thread may ask it.
class FakeWindowSource final : public WindowListSource {
public:
    void set(std::vector<Window> windows)
    {
        std::lock_guard lock(mutex_);
        windows_ = std::move(windows);
    }
    std::vector<Window> onScreenWindows() override
    {
        polls.fetch_add(1);
        std::lock_guard lock(mutex_);
        return windows_;
    }

    std::atomic<int> polls{0};

private:
    std::mutex mutex_;
    std::vector<Window> windows_;
};
