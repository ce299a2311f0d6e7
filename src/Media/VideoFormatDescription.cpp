#include "Media/VideoFormatDescription.h"

#include "Media/EncoderH264/AnnexBConverter.h"
#include "Utils/Log.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace {

// Reads the bits of an SPS payload. Every read past the end yields zeros and marks the reader
// failed, so a cut-off SPS can never read out of bounds.
class SpsBitReader {
public:
    explicit SpsBitReader(std::vector<uint8_t> rbsp) : rbsp_(std::move(rbsp)) {}

    bool failed() const { return failed_; }

    uint32_t bits(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 1) | bit();
        return value;
    }

    // Unsigned Exp-Golomb code; more than 31 leading zeros is no valid code.
    uint32_t ue()
    {
        int zeros = 0;
        while (!failed_ && bit() == 0)
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        if (failed_)
            return 0;
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
    }

    int64_t se()
    {
        const uint32_t code = ue();
        return code % 2 ? static_cast<int64_t>(code / 2) + 1 : -static_cast<int64_t>(code / 2);
    }

private:
    uint32_t bit()
    {
        if (position_ >= rbsp_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const uint32_t value = (rbsp_[position_ / 8] >> (7 - position_ % 8)) & 1;
        ++position_;
        return value;
    }

    std::vector<uint8_t> rbsp_;
    size_t position_ = 0;
    bool failed_ = false;
};

// The payload of a NAL unit without its header byte and with emulation-prevention bytes (the 03 of
// 00 00 03) taken out.
std::vector<uint8_t> rbspOf(std::span<const uint8_t> nalUnit)
{
    std::vector<uint8_t> rbsp;
    rbsp.reserve(nalUnit.size());
    int zeros = 0;
    for (size_t i = 1; i < nalUnit.size(); ++i) {
        const uint8_t byte = nalUnit[i];
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        rbsp.push_back(byte);
    }
    return rbsp;
}

bool hasChromaInfo(uint32_t profile)
{
    static constexpr uint32_t kProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    return std::find(std::begin(kProfiles), std::end(kProfiles), profile) != std::end(kProfiles);
}

void skipScalingList(SpsBitReader& reader, int size)
{
    int64_t lastScale = 8;
    int64_t nextScale = 8;
    for (int j = 0; j < size && !reader.failed(); ++j) {
        if (nextScale != 0)
            nextScale = ((lastScale + reader.se()) % 256 + 256) % 256;
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}

struct PictureSize {
    int width;
    int height;
    int referenceFrames;
};

// The cropped picture size an SPS declares; nullopt when the SPS is cut off or declares no
// sensible size.
std::optional<PictureSize> parseSpsSize(std::span<const uint8_t> sps)
{
    SpsBitReader reader(rbspOf(sps));
    const uint32_t profile = reader.bits(8);
    reader.bits(16);  // constraint flags, level
    reader.ue();      // seq_parameter_set_id
    uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    if (hasChromaInfo(profile)) {
        chromaFormat = reader.ue();
        if (chromaFormat == 3)
            separateColourPlanes = reader.bits(1);
        reader.ue();     // bit_depth_luma_minus8
        reader.ue();     // bit_depth_chroma_minus8
        reader.bits(1);  // qpprime_y_zero_transform_bypass_flag
        if (reader.bits(1)) {
            const int lists = chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists && !reader.failed(); ++i)
                if (reader.bits(1))
                    skipScalingList(reader, i < 6 ? 16 : 64);
        }
    }
    reader.ue();  // log2_max_frame_num_minus4
    const uint32_t pocType = reader.ue();
    if (pocType == 0) {
        reader.ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        reader.bits(1);  // delta_pic_order_always_zero_flag
        reader.se();     // offset_for_non_ref_pic
        reader.se();     // offset_for_top_to_bottom_field
        const uint32_t cycle = reader.ue();
        if (cycle > 255)
            return std::nullopt;
        for (uint32_t i = 0; i < cycle && !reader.failed(); ++i)
            reader.se();
    }
    const uint32_t referenceFrames = reader.ue();
    reader.bits(1);  // gaps_in_frame_num_value_allowed_flag
    const int64_t widthInMbs = int64_t{reader.ue()} + 1;
    const int64_t heightInMapUnits = int64_t{reader.ue()} + 1;
    const bool frameMbsOnly = reader.bits(1);
    if (!frameMbsOnly)
        reader.bits(1);  // mb_adaptive_frame_field_flag
    reader.bits(1);      // direct_8x8_inference_flag
    int64_t cropX = 0;
    int64_t cropY = 0;
    if (reader.bits(1)) {
        const bool monochromeOrSeparate = separateColourPlanes || chromaFormat == 0;
        const int64_t unitX = monochromeOrSeparate || chromaFormat == 3 ? 1 : 2;
        const int64_t unitY = (monochromeOrSeparate || chromaFormat != 1 ? 1 : 2) * (frameMbsOnly ? 1 : 2);
        cropX = unitX * (int64_t{reader.ue()} + reader.ue());
        cropY = unitY * (int64_t{reader.ue()} + reader.ue());
    }
    if (reader.failed() || chromaFormat > 3)
        return std::nullopt;
    const int64_t width = widthInMbs * 16 - cropX;
    const int64_t height = heightInMapUnits * 16 * (frameMbsOnly ? 1 : 2) - cropY;
    constexpr int64_t kLargest = 1 << 16;
    if (width <= 0 || height <= 0 || width > kLargest || height > kLargest || referenceFrames > 16)
        return std::nullopt;
    return PictureSize{static_cast<int>(width), static_cast<int>(height), static_cast<int>(referenceFrames)};
}

} // namespace

std::shared_ptr<const VideoFormatDescription> VideoFormatDescription::create(std::span<const uint8_t> sps,
                                                                            std::span<const uint8_t> pps)
{
    if (sps.empty() || pps.empty())
        return nullptr;
    return std::shared_ptr<const VideoFormatDescription>(new VideoFormatDescription(sps, pps));
}

VideoFormatDescription::VideoFormatDescription(std::span<const uint8_t> sps, std::span<const uint8_t> pps)
    : sps_(sps.begin(), sps.end()), pps_(pps.begin(), pps.end())
{
    if (const auto size = parseSpsSize(sps)) {
        width_ = size->width;
        height_ = size->height;
        referenceFrames_ = size->referenceFrames;
    } else {
        PLOG("H264: the %zu-byte SPS declares no readable picture size", sps.size());
    }
}

bool VideoFormatDescription::matches(std::span<const uint8_t> sps, std::span<const uint8_t> pps) const
{
    return std::ranges::equal(sps, sps_) && std::ranges::equal(pps, pps_);
}

std::vector<uint8_t> VideoFormatDescription::parameterSetsAnnexB() const
{
    std::vector<uint8_t> out;
    AnnexBConverter::appendNalUnit(sps_, out);
    AnnexBConverter::appendNalUnit(pps_, out);
    return out;
}
