#include "FlvVideoReader.h"

#include <cstring>
#include <utility>

namespace {

// "FLV", version, flags, the header's size (9), then the first previous-tag size.
constexpr size_t kFileHeader = 9 + 4;
// Type, data size (3), time stamp (3 + 1), stream id (3); the tag's previous-tag size follows its data.
constexpr size_t kTagHeader = 11;
constexpr uint8_t kVideoTag = 9;
constexpr uint8_t kAvcCodec = 7;
constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

uint32_t bigEndian(std::span<const uint8_t> bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void appendUnit(std::vector<uint8_t>& out, std::span<const uint8_t> unit)
{
    out.insert(out.end(), std::begin(kStartCode), std::end(kStartCode));
    out.insert(out.end(), unit.begin(), unit.end());
}

} // namespace

FlvVideoReader::FlvVideoReader(AccessUnit handler) : handler_(std::move(handler)) {}

bool FlvVideoReader::feed(std::span<const uint8_t> bytes)
{
    if (failed_)
        return false;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    failed_ = !takeTags();
    return !failed_;
}

bool FlvVideoReader::takeTags()
{
    size_t at = 0;
    if (!headerRead_) {
        if (buffer_.size() < kFileHeader)
            return true;
        if (std::memcmp(buffer_.data(), "FLV", 3) != 0 || bigEndian(std::span(buffer_).subspan(5), 4) != 9)
            return false;
        headerRead_ = true;
        at = kFileHeader;
    }
    bool ok = true;
    while (ok && buffer_.size() - at >= kTagHeader) {
        const std::span<const uint8_t> header = std::span(buffer_).subspan(at, kTagHeader);
        const size_t size = bigEndian(header.subspan(1), 3);
        if (size > kMaxTag)
            return false;
        if (buffer_.size() - at < kTagHeader + size + 4)
            break;
        if (header[0] == kVideoTag)
            ok = video(std::span(buffer_).subspan(at + kTagHeader, size));
        at += kTagHeader + size + 4;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(at));
    return ok;
}

bool FlvVideoReader::video(std::span<const uint8_t> tag)
{
    // Frame type and codec, the AVC packet type, a composition time (3).
    if (tag.size() < 5 || (tag[0] & 0x0F) != kAvcCodec)
        return false;
    switch (tag[1]) {
    case 0:
        return sequenceHeader(tag.subspan(5));
    case 1:
        return frame(tag.subspan(5));
    default:
        return true; // the end of the sequence
    }
}

bool FlvVideoReader::sequenceHeader(std::span<const uint8_t> record)
{
    // AVCDecoderConfigurationRecord: version, profile, compatibility, level, the NAL length's size,
    // then the counted SPS and PPS, each behind a 2-byte length.
    if (record.size() < 6)
        return false;
    lengthSize_ = (record[4] & 0x03) + 1u;
    parameterSets_.clear();
    size_t at = 5;
    for (const uint8_t countMask : {uint8_t{0x1F}, uint8_t{0xFF}}) {
        if (at >= record.size())
            return false;
        const size_t count = record[at++] & countMask;
        for (size_t i = 0; i < count; ++i) {
            if (record.size() - at < 2)
                return false;
            const size_t length = bigEndian(record.subspan(at), 2);
            at += 2;
            if (record.size() - at < length)
                return false;
            appendUnit(parameterSets_, record.subspan(at, length));
            at += length;
        }
    }
    parameterSetsSent_ = false;
    return true;
}

bool FlvVideoReader::frame(std::span<const uint8_t> units)
{
    std::vector<uint8_t> unit;
    if (!parameterSetsSent_) {
        unit = parameterSets_;
        parameterSetsSent_ = true;
    }
    for (size_t at = 0; at < units.size();) {
        if (units.size() - at < lengthSize_)
            return false;
        const size_t length = bigEndian(units.subspan(at), lengthSize_);
        at += lengthSize_;
        if (units.size() - at < length)
            return false;
        appendUnit(unit, units.subspan(at, length));
        at += length;
    }
    handler_(std::move(unit));
    return true;
}
