#pragma once

#include "Media/EncoderH264/AnnexBConverter.h"
#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Utils/CryptoTestSupport.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

// A synthetic picture that changes every frame: a diagonal gradient with a bright box moving across.
class MovingPattern {
public:
    using Format = TzVideoEncoder::Frame::Format;

    MovingPattern(Format format, int width, int height) : format_(format), width_(width), height_(height)
    {
        if (format == Format::BGRA) {
            strides_ = {width * 4, 0, 0};
            planes_[0].resize(static_cast<size_t>(width) * 4 * height);
        } else {
            const int chromaWidth = (width + 1) / 2;
            const int chromaHeight = (height + 1) / 2;
            strides_ = {width, chromaWidth, chromaWidth};
            planes_[0].resize(static_cast<size_t>(width) * height);
            planes_[1].resize(static_cast<size_t>(chromaWidth) * chromaHeight);
            planes_[2].resize(static_cast<size_t>(chromaWidth) * chromaHeight);
        }
    }

    // Draws picture number index and returns it.
    TzVideoEncoder::Frame draw(int index)
    {
        const int boxSize = std::max(2, height_ / 4);
        const int boxX = (index * 16) % std::max(1, width_ - boxSize);
        const int boxY = (index * 8) % std::max(1, height_ - boxSize);
        const auto inBox = [&](int x, int y) { return x >= boxX && x < boxX + boxSize && y >= boxY && y < boxY + boxSize; };
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                const auto shade = static_cast<uint8_t>(inBox(x, y) ? 235 : (x + y + index * 3) % 200 + 16);
                if (format_ == Format::BGRA) {
                    uint8_t* pixel = &planes_[0][static_cast<size_t>(y) * strides_[0] + x * 4];
                    pixel[0] = shade;
                    pixel[1] = static_cast<uint8_t>(255 - shade);
                    pixel[2] = static_cast<uint8_t>(shade / 2 + index);
                    pixel[3] = 0xFF;
                } else {
                    planes_[0][static_cast<size_t>(y) * strides_[0] + x] = shade;
                }
            }
        }
        if (format_ == Format::I420) {
            std::fill(planes_[1].begin(), planes_[1].end(), static_cast<uint8_t>(128 + index % 32));
            std::fill(planes_[2].begin(), planes_[2].end(), static_cast<uint8_t>(128 - index % 32));
        }
        return frame();
    }

    TzVideoEncoder::Frame frame() const
    {
        TzVideoEncoder::Frame result;
        result.format = format_;
        result.width = width_;
        result.height = height_;
        for (size_t i = 0; i < planes_.size(); ++i) {
            result.planes[i] = planes_[i];
            result.strides[i] = strides_[i];
        }
        return result;
    }

private:
    Format format_;
    int width_;
    int height_;
    std::array<std::vector<uint8_t>, 3> planes_;
    std::array<int, 3> strides_{};
};

// Keeps every access unit the encoder delivers, from any thread.
class AccessUnitSink {
public:
    TzVideoEncoder::CompletionBlock block()
    {
        return [this](std::span<const uint8_t> accessUnit) {
            std::lock_guard guard(mutex_);
            units_.emplace_back(accessUnit.begin(), accessUnit.end());
        };
    }
    std::vector<std::vector<uint8_t>> units() const
    {
        std::lock_guard guard(mutex_);
        return units_;
    }
private:
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> units_;
};

// The NAL units of an Annex-B access unit (each behind 00 00 00 01); empty when it does not start
// with a start code. Emulation prevention keeps 00 00 00 out of NAL units, so the split is exact.
inline std::vector<std::vector<uint8_t>> splitAnnexB(std::span<const uint8_t> accessUnit)
{
    const auto& code = AnnexBConverter::kStartCode;
    std::vector<std::vector<uint8_t>> nalUnits;
    if (accessUnit.size() < code.size() || !std::equal(code.begin(), code.end(), accessUnit.begin()))
        return nalUnits;
    auto at = accessUnit.begin() + code.size();
    while (at < accessUnit.end()) {
        const auto next = std::search(at, accessUnit.end(), code.begin(), code.end());
        nalUnits.emplace_back(at, next);
        at = next == accessUnit.end() ? next : next + code.size();
    }
    return nalUnits;
}

// The NAL unit types of an access unit, in order.
inline std::vector<int> nalTypes(std::span<const uint8_t> accessUnit)
{
    std::vector<int> types;
    for (const auto& nalUnit : splitAnnexB(accessUnit))
        types.push_back(nalUnit.empty() ? -1 : nalUnit[0] & 0x1F);
    return types;
}

// Every unit, one after another: the elementary stream the TV receives.
inline Bytes concatenated(const std::vector<Bytes>& units)
{
    Bytes all;
    for (const auto& unit : units)
        all.insert(all.end(), unit.begin(), unit.end());
    return all;
}

// The stream written to a file in dir; the file's path.
inline std::string writeStream(const TempDir& dir, const Bytes& stream)
{
    const std::string path = (dir / "cast.h264").string();
    writeBytes(path, stream);
    return path;
}

// ffprobe's view of a raw H.264 stream (its streams and frames); null when it cannot read it.
inline nlohmann::json probeH264(const std::string& path)
{
    const auto outcome = Shell::run({"ffprobe", "-v", "error", "-f", "h264", "-show_streams", "-show_frames", "-of",
                                     "json", path});
    if (!outcome || outcome->exitCode != 0)
        return nullptr;
    return nlohmann::json::parse(outcome->output, nullptr, false);
}

// ffmpeg decodes the whole stream and stops at the first error.
inline bool decodesCleanly(const std::string& path)
{
    const auto outcome = Shell::run({"ffmpeg", "-v", "error", "-xerror", "-f", "h264", "-i", path, "-f", "null", "-"});
    return outcome && outcome->exitCode == 0;
}
