#pragma once

#include "Media/OutputVolumeSink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// Keeps every volume reported, from any thread.
class RecordingVolumeSink : public OutputVolumeSink {
public:
    void outputVolumeChanged(int32_t percent) override
    {
        std::lock_guard lock(mutex_);
        percents_.push_back(percent);
        changed_.notify_all();
    }

    std::vector<int32_t> percents() const
    {
        std::lock_guard lock(mutex_);
        return percents_;
    }

    // False when no report came (the limit only stops a broken build from hanging).
    bool waitForReport()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !percents_.empty(); });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int32_t> percents_;
};
