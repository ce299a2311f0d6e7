#include "Media/H264DecoderTool.h"

#include "Utils/Log.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace {

struct StartCode {
    size_t offset;
    size_t length;  // 3 or 4
};

// The first start code that begins at or after from: 00 00 01, or 00 00 00 01 when a 00 at or
// after from stands in front of it.
std::optional<StartCode> findStartCode(std::span<const uint8_t> data, size_t from)
{
    static constexpr std::array<uint8_t, 3> kPrefix{0x00, 0x00, 0x01};
    const auto found = std::search(data.begin() + static_cast<std::ptrdiff_t>(from), data.end(), kPrefix.begin(),
                                   kPrefix.end());
    if (found == data.end())
        return std::nullopt;
    const auto at = static_cast<size_t>(found - data.begin());
    if (at > from && data[at - 1] == 0x00)
        return StartCode{at - 1, 4};
    return StartCode{at, 3};
}

} // namespace

void H264DecoderTool::readVideoInfo(std::shared_ptr<const std::vector<uint8_t>> packet)
{
    if (!packet)
        return;
    for (const auto& unit : split(*packet)) {
        if (naluHeadLength_ == 0)
            naluHeadLength_ = static_cast<int>(unit.startCodeLength);
        handle(packet, unit);
    }
}

std::vector<H264DecoderTool::NalUnit> H264DecoderTool::split(std::span<const uint8_t> packet)
{
    std::vector<NalUnit> units;
    auto code = findStartCode(packet, 0);
    if (!code) {
        if (!packet.empty())
            PLOG("H264: %zu-byte video packet without a start code dropped", packet.size());
        return units;
    }
    const auto leading = packet.first(code->offset);
    // Zeros may stand in front of the first start code; anything else belongs to no unit.
    if (std::ranges::any_of(leading, [](uint8_t byte) { return byte != 0x00; }))
        PLOG("H264: %zu bytes before the first start code of a %zu-byte video packet dropped", leading.size(),
             packet.size());
    while (code) {
        const size_t unitStart = code->offset + code->length;
        const auto next = findStartCode(packet, unitStart);
        size_t unitEnd = next ? next->offset : packet.size();
        // A NAL unit never ends in 00: zeros before a start code are padding.
        while (unitEnd > unitStart && packet[unitEnd - 1] == 0x00)
            --unitEnd;
        if (unitEnd > unitStart)
            units.push_back({packet.subspan(code->offset, unitEnd - code->offset), code->length});
        code = next;
    }
    return units;
}

void H264DecoderTool::handle(const std::shared_ptr<const std::vector<uint8_t>>& packet, const NalUnit& unit)
{
    const auto nalUnit = unit.annexB.subspan(unit.startCodeLength);
    switch (nalUnit[0] & 0x1F) {
    case kNalSei:
        break;  // nothing here reads SEI
    case kNalSps:
        spsInfo_.assign(nalUnit.begin(), nalUnit.end());
        break;
    case kNalPps:
        ppsInfo_.assign(nalUnit.begin(), nalUnit.end());
        createCMVideoFormatDescription();
        break;
    default:
        decodeToSampleBuffer(packet, unit);
        break;
    }
}

void H264DecoderTool::createCMVideoFormatDescription()
{
    // The TV repeats SPS and PPS before key frames; only a change makes a new format.
    if (formatDescription_ && formatDescription_->matches(spsInfo_, ppsInfo_))
        return;
    if (auto format = VideoFormatDescription::create(spsInfo_, ppsInfo_))
        formatDescription_ = std::move(format);
    else
        PLOG("H264: PPS before any SPS, no format yet");
}

void H264DecoderTool::decodeToSampleBuffer(const std::shared_ptr<const std::vector<uint8_t>>& packet,
                                           const NalUnit& unit)
{
    if (!delegate_)
        return;
    const auto sample =
        std::make_shared<const CompressedSample>(packet, unit.annexB, unit.startCodeLength, formatDescription_, true);
    delegate_->didOutputVideoSampleBuffer(sample);
}
