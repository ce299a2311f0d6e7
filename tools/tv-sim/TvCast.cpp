#include "tv-sim/TvCast.h"

#include "Utils/Log.h"

TvCast::TvCast(std::optional<int32_t> qualityLevel) : qualityLevel_(qualityLevel) {}

void TvCast::setQualityLevel(std::optional<int32_t> level)
{
    std::lock_guard lock(mutex_);
    qualityLevel_ = level;
}

std::optional<int32_t> TvCast::qualityLevel() const
{
    std::lock_guard lock(mutex_);
    return qualityLevel_;
}

void TvCast::linkUp()
{
    std::lock_guard lock(mutex_);
    running_ = false;
}

std::optional<VideoQualityPayload> TvCast::onCastVideoFormat(std::span<const uint8_t> payload)
{
    const auto format = CastVideoFormatPayload::decode(payload);
    if (!format) {
        PLOG("tv-sim: ignoring a %zu-byte cast video format: shorter than its record", payload.size());
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    lastFormat_ = format;
    const bool begins = !running_;
    running_ = true;
    if (!begins || !qualityLevel_)
        return std::nullopt;
    return answerFor(*qualityLevel_);
}

void TvCast::onCastStop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
}

std::optional<CastVideoFormatPayload> TvCast::lastFormat() const
{
    std::lock_guard lock(mutex_);
    return lastFormat_;
}

VideoQualityPayload TvCast::answerFor(int32_t level)
{
    switch (level) {
    case 1:
        return {.width = 1280, .height = 720, .level = level, .fps = 10};
    case 2:
    case 3:
        return {.width = 1600, .height = 900, .level = level, .fps = 10};
    case 4:
        return {.width = 1600, .height = 900, .level = level, .fps = 15};
    default:
        return {.width = 1920, .height = 1080, .level = level, .fps = 30};
    }
}
