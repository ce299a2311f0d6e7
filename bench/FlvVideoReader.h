#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// Takes an FLV stream as it arrives (ffmpeg's "-f flv") and hands out each H.264 access unit in
// Annex-B form, as soon as its tag is whole; the parameter sets of the stream's sequence header go in
// front of the first unit. Every length is checked before it is used.
class FlvVideoReader {
public:
    // Far beyond a frame of the benchmarks' streams.
    static constexpr size_t kMaxTag = size_t{32} << 20;

    using AccessUnit = std::function<void(std::vector<uint8_t> unit)>;

    explicit FlvVideoReader(AccessUnit handler);

    // False once the stream is not FLV, a tag is too large or a video tag is malformed; nothing more
    // is read then.
    bool feed(std::span<const uint8_t> bytes);

private:
    // Hands out every whole tag in the buffer.
    bool takeTags();
    bool video(std::span<const uint8_t> tag);
    bool sequenceHeader(std::span<const uint8_t> record);
    bool frame(std::span<const uint8_t> units);

    const AccessUnit handler_;
    std::vector<uint8_t> buffer_;
    bool failed_ = false;
    bool headerRead_ = false;
    size_t lengthSize_ = 4;
    std::vector<uint8_t> parameterSets_;
    bool parameterSetsSent_ = false;
};
