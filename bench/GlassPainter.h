#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Draws a GlassStamp with a new number every millisecond in the top-left corner of an X screen, over
// BenchScene's moving content (60 frames a second, below the stamp's row), on a thread and a
// connection of its own, and notes when each number was on the screen: once XSync returns, the server
// has drawn it.
class GlassPainter {
public:
    GlassPainter(std::string displayName, int width, int height);
    // Stops painting.
    ~GlassPainter();
    GlassPainter(const GlassPainter&) = delete;
    GlassPainter& operator=(const GlassPainter&) = delete;

    // Starts painting; false when the display cannot be opened.
    bool start();
    // Wall-clock microseconds since the Unix epoch at which `number` was on the screen; 0 when it never was.
    uint64_t drawnAt(int64_t number) const;

private:
    void run();

    const std::string displayName_;
    const int width_;
    const int height_;
    std::atomic<bool> painting_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<uint64_t> drawnAt_; // by number
};
