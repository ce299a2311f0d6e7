#pragma once

#include "Media/CompressedSample.h"
#include "Media/H264DecoderOutputDelegate.h"
#include "Media/VideoFormatDescription.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Splits the TV's H.264 stream (Annex-B, one packet per video message) into NAL units for the
// TV-screen window's decoder. SPS and PPS are kept, and the format description is rebuilt from them
// only when they change; every other unit except SEI becomes a CompressedSample (Annex-B, not
// copied: it shares the packet) handed to the delegate at once. Nothing is decoded here.
//
// Start codes are found by scanning for 00 00 01, a 00 in front belonging to it (4-byte form), in
// every packet: encoders mix both widths, even within one picture. Bytes before a packet's first
// start code cannot be placed in any unit and are dropped with a log line.
//
// Threads: not locked. The TV-screen viewer calls it on its serial queue "com.display.queue"; the
// delegate is called synchronously on that queue.
class H264DecoderTool {
public:
    // NAL unit types with a role of their own here.
    static constexpr int kNalSei = 6;
    static constexpr int kNalSps = 7;
    static constexpr int kNalPps = 8;

    H264DecoderTool() = default;
    H264DecoderTool(const H264DecoderTool&) = delete;
    H264DecoderTool& operator=(const H264DecoderTool&) = delete;

    // Not owned; the owner clears it (or drops the tool) before the delegate goes away.
    void setDelegate(H264DecoderOutputDelegate* delegate) { delegate_ = delegate; }
    H264DecoderOutputDelegate* delegate() const { return delegate_; }

    // Splits one packet and delivers its samples before returning. The packet is only read; the
    // samples share it, so the caller may drop its own reference at once. A null or empty packet, or
    // one without a start code, delivers nothing.
    void readVideoInfo(std::shared_ptr<const std::vector<uint8_t>> packet);

    // Width of the start code of the stream's first NAL unit (4 or 3), 0 while none has come.
    int naluHeadLength() const { return naluHeadLength_; }
    // The format built from the latest SPS and PPS; nullptr before the first pair.
    const std::shared_ptr<const VideoFormatDescription>& formatDescription() const { return formatDescription_; }

private:
    // One NAL unit as found in a packet: the start code and the unit's bytes, trailing zeros cut.
    struct NalUnit {
        std::span<const uint8_t> annexB;
        size_t startCodeLength;
    };

    // The non-empty NAL units of packet in order.
    static std::vector<NalUnit> split(std::span<const uint8_t> packet);
    void handle(const std::shared_ptr<const std::vector<uint8_t>>& packet, const NalUnit& unit);
    // Builds a new format when the latest SPS and PPS differ from the current one's.
    void createCMVideoFormatDescription();
    void decodeToSampleBuffer(const std::shared_ptr<const std::vector<uint8_t>>& packet, const NalUnit& unit);

    int naluHeadLength_ = 0;
    std::vector<uint8_t> spsInfo_;
    std::vector<uint8_t> ppsInfo_;
    std::shared_ptr<const VideoFormatDescription> formatDescription_;
    H264DecoderOutputDelegate* delegate_ = nullptr;
};
