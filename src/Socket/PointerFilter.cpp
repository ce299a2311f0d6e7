#include "Socket/PointerFilter.h"

#include "Socket/MessageType.h"
#include "Socket/TouchPayload.h"
#include "Utils/Log.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

double wallClockMs()
{
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::milli>(sinceEpoch).count();
}

bool isStill(int64_t x, int64_t y, int64_t lastX, int64_t lastY)
{
    return std::llabs(x - lastX) <= PointerFilter::kStillPixels && std::llabs(y - lastY) <= PointerFilter::kStillPixels;
}

} // namespace

PointerFilter& PointerFilter::shared()
{
    static PointerFilter filter;
    return filter;
}

PointerFilter::PointerFilter() : PointerFilter(wallClockMs) {}

PointerFilter::PointerFilter(Clock now) : now_(std::move(now)) {}

std::optional<PointerFilter::Touch> PointerFilter::filter(int type, std::span<const uint8_t> payload)
{
    // Checked before anything is read, so a short touch changes no state either.
    const auto touch = TouchPayload::decode(payload);
    if (!touch) {
        PLOG("touch 0x%x dropped: %zu bytes, a touch has %zu", type, payload.size(), kTouchSize);
        return std::nullopt;
    }
    const double now = now_();
    std::lock_guard lock(mutex_);
    int passedType = type;
    if (type == kMsgTouchMove) {
        if (isStill(touch->x, touch->y, lastX_, lastY_)) {
            if (now - lastTimeMs_ <= kLongPressMs || holdFlag_)
                return std::nullopt;
            holdFlag_ = true;
            passedType = kPointerLongPress;
        }
        lastTimeMs_ = now;
    } else if (type == kMsgTouchDown) {
        lastTimeMs_ = now;
    }
    if (touch->fourth != 0)
        return std::nullopt;
    lastX_ = touch->x;
    lastY_ = touch->y;
    Touch passed{.type = passedType};
    std::copy_n(payload.begin(), kTouchSize, passed.data.begin());
    return passed;
}

void PointerFilter::willDeliver(int type)
{
    if (type == kPointerLongPress)
        return;
    std::lock_guard lock(mutex_);
    holdFlag_ = false;
}
