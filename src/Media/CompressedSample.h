#pragma once

#include "Media/VideoFormatDescription.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// One NAL unit of the TV's stream, ready for the decoder: the unit in Annex-B form (its start
// code, 3 or 4 bytes as it came, then the unit) lying in place in the packet it was cut from, the
// stream's format at that point, and the mark to show it as soon as it is decoded. The sample
// shares ownership of the packet, so the bytes stay valid for as long as the sample exists, on any
// thread, whatever the packet's other owners do.
class CompressedSample {
public:
    // annexB must lie within *storage and hold a start code of startCodeLength bytes followed by at
    // least one byte.
    CompressedSample(std::shared_ptr<const std::vector<uint8_t>> storage, std::span<const uint8_t> annexB,
                     size_t startCodeLength, std::shared_ptr<const VideoFormatDescription> format,
                     bool displayImmediately);

    // Start code and NAL unit.
    std::span<const uint8_t> data() const { return annexB_; }
    // The NAL unit alone.
    std::span<const uint8_t> nalUnit() const { return annexB_.subspan(startCodeLength_); }
    size_t startCodeLength() const { return startCodeLength_; }
    // The type from the unit's header byte; -1 for a sample without one.
    int nalUnitType() const { return nalUnit().empty() ? -1 : nalUnit()[0] & 0x1F; }
    // Nullptr for units that came before the stream's first SPS and PPS: no decoder can show them.
    const std::shared_ptr<const VideoFormatDescription>& formatDescription() const { return format_; }
    bool displayImmediately() const { return displayImmediately_; }

private:
    std::shared_ptr<const std::vector<uint8_t>> storage_;
    std::span<const uint8_t> annexB_;
    size_t startCodeLength_;
    std::shared_ptr<const VideoFormatDescription> format_;
    bool displayImmediately_;
};
