#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// Encodes 44,100 Hz stereo sound to raw AAC-LC packets (no container, no ADTS), buffering samples
// until a whole encoder frame is there.
class AacEncoder {
public:
    static constexpr int kBitRate = 128000;

    // nullptr (and a log line) when the encoder cannot be opened.
    static std::unique_ptr<AacEncoder> create();
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    // Takes interleaved left/right float samples; returns the packets they completed, in order.
    std::vector<std::vector<uint8_t>> encode(std::span<const float> interleaved);

private:
    AacEncoder() = default;
    void collect(std::vector<std::vector<uint8_t>>& packets);

    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<float> pending_;
    int64_t nextPts_ = 0;
};
