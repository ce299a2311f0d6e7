#pragma once

#include "Media/EncoderH264/RecordManagerToStopScreenDelegate.h"
#include "Utils/Shell.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

// Keeps every unit a RecordManager hands to its callback.
class CallbackSink {
public:
    static int32_t callback(void* user, const uint8_t* bytes, uint32_t length)
    {
        auto* sink = static_cast<CallbackSink*>(user);
        std::lock_guard lock(sink->mutex_);
        sink->units_.emplace_back(bytes, bytes + length);
        sink->arrived_.notify_all();
        return 0;
    }

    // Waits until `count` units came; false when they never did (the limit only stops a broken
    // build from hanging the run).
    bool waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(60), [&] { return units_.size() >= count; });
    }
    size_t count() const
    {
        std::lock_guard lock(mutex_);
        return units_.size();
    }
    std::vector<std::vector<uint8_t>> units() const
    {
        std::lock_guard lock(mutex_);
        return units_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::vector<uint8_t>> units_;
};

class CountingStopDelegate : public RecordManagerToStopScreenDelegate {
public:
    void stopScreenFunction() override
    {
        std::lock_guard lock(mutex_);
        ++calls_;
        called_.notify_all();
    }
    bool waitForCall()
    {
        std::unique_lock lock(mutex_);
        return called_.wait_for(lock, std::chrono::seconds(60), [&] { return calls_ > 0; });
    }
    int calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable called_;
    int calls_ = 0;
};

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> concatenated(const std::vector<std::vector<uint8_t>>& units)
{
    std::vector<uint8_t> all;
    for (const auto& unit : units)
        all.insert(all.end(), unit.begin(), unit.end());
    return all;
}

// ffprobe's view of a raw H.264 stream (its streams and frames); null when it cannot read it.
inline nlohmann::json probeH264(const std::string& path)
{
    const auto outcome = Shell::run({"ffprobe", "-v", "error", "-f", "h264", "-show_streams", "-show_frames", "-of",
                                     "json", path});
    if (!outcome || outcome->exitCode != 0)
        return nullptr;
    return nlohmann::json::parse(outcome->output, nullptr, false);
}

// ffmpeg decodes the whole stream and stops at the first error.
inline bool decodesCleanly(const std::string& path)
{
    const auto outcome = Shell::run({"ffmpeg", "-v", "error", "-xerror", "-f", "h264", "-i", path, "-f", "null", "-"});
    return outcome && outcome->exitCode == 0;
}

inline std::string hex(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}
