#include "Media/CompressedSample.h"

#include <utility>

CompressedSample::CompressedSample(std::shared_ptr<const std::vector<uint8_t>> storage,
                                   std::span<const uint8_t> annexB, size_t startCodeLength,
                                   std::shared_ptr<const VideoFormatDescription> format, bool displayImmediately)
    : storage_(std::move(storage)), annexB_(annexB), startCodeLength_(startCodeLength), format_(std::move(format)),
      displayImmediately_(displayImmediately)
{
}
