#pragma once

#include "Platform/BgraFrame.h"

#include <filesystem>
#include <memory>

// One picture of a video file, for the file panel's tiles: the first picture of its main video
// stream, at the stream's own size. Any container and codec libavformat and libavcodec read.
class VideoStill {
public:
    // nullptr (logged) when the file cannot be read, holds no video or gives no picture within its
    // first kMaxPackets packets (of all its streams), so a damaged file can't keep the caller reading it whole.
    static std::shared_ptr<const BgraFrame> firstPicture(const std::filesystem::path& file);

    static constexpr int kMaxPackets = 2000;
};
