#pragma once

#include "Socket/CastVideoFormatPayload.h"
#include "Socket/VideoQualityPayload.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

// The casts of one TV as it follows them: a cast begins with the first kMsgCastVideoFormat on a link
// with no cast running, or after a kMsgCastStop, and that announcement alone is answered with the
// quality level the TV is set to. The client's later formats of the same cast (its restart at the
// answered size) get no answer. Fed from the TCP and the UDP threads; readers on any thread.
class TvCast {
public:
    // nullopt: the TV never answers (the sender's cast then times out).
    explicit TvCast(std::optional<int32_t> qualityLevel = std::nullopt);

    void setQualityLevel(std::optional<int32_t> level);
    std::optional<int32_t> qualityLevel() const;

    // A new link: no cast runs on it.
    void linkUp();
    // The answer to send for this announcement, nullopt when none is due. A payload too short to
    // read is logged and ignored: it neither begins a cast nor counts as the last format.
    std::optional<VideoQualityPayload> onCastVideoFormat(std::span<const uint8_t> payload);
    void onCastStop();

    // The last format announced since the TV started; nullopt before any.
    std::optional<CastVideoFormatPayload> lastFormat() const;

    // The size and frame rate a TV asks for at each quality level.
    static VideoQualityPayload answerFor(int32_t level);

private:
    mutable std::mutex mutex_;
    std::optional<int32_t> qualityLevel_;
    bool running_ = false;
    std::optional<CastVideoFormatPayload> lastFormat_;
};
