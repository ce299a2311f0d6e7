#pragma once

#include <string>
#include <vector>

// ffmpeg's output options for libx264 at what TzVideoEncoder sets: superfast, zero latency (sliced
// threads, no look-ahead), Baseline, the average bit rate the encoder takes for the size with a 1.5
// times peak, a key frame every fps x 2 frames and none on scene changes, the BT.601 matrix; the
// conversion to I420 with the same filter. With `frameThreads`, x264 threads as ffmpeg makes it by
// default: a frame per thread, which holds frames back and so is not a live setting.
class X264PeerSettings {
public:
    static std::vector<std::string> args(int width, int height, int fps, bool frameThreads = false);
};
