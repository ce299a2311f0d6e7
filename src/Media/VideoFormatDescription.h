#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// The format of an H.264 stream as its decoder needs it: the SPS and PPS it was built from (each
// without start code), and the picture size and reference count read from the SPS (0 when the SPS
// could not be read; the decoder reads the SPS itself, so they serve display and limits only). Immutable once made, so
// samples on any thread can share it.
class VideoFormatDescription {
public:
    // Nullptr when either parameter set is empty.
    static std::shared_ptr<const VideoFormatDescription> create(std::span<const uint8_t> sps,
                                                                std::span<const uint8_t> pps);

    const std::vector<uint8_t>& sps() const { return sps_; }
    const std::vector<uint8_t>& pps() const { return pps_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The reference pictures the SPS lets the stream keep (max_num_ref_frames); 0 when unreadable.
    int referenceFrames() const { return referenceFrames_; }
    // True when this description was built from exactly these parameter sets.
    bool matches(std::span<const uint8_t> sps, std::span<const uint8_t> pps) const;
    // SPS then PPS, each behind a 4-byte start code: the decoder's extradata, or the head of a
    // stream rebuilt from the samples.
    std::vector<uint8_t> parameterSetsAnnexB() const;

private:
    VideoFormatDescription(std::span<const uint8_t> sps, std::span<const uint8_t> pps);

    std::vector<uint8_t> sps_;
    std::vector<uint8_t> pps_;
    int width_ = 0;
    int height_ = 0;
    int referenceFrames_ = 0;
};
