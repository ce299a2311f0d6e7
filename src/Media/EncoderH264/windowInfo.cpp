#include "Media/EncoderH264/windowInfo.h"

#include <algorithm>

namespace {

// The length in bytes of the UTF-8 sequence that starts with `lead`; 1 for a byte that starts none,
// so malformed text is still walked byte by byte.
size_t sequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

} // namespace

windowInfo::windowInfo(int32_t windowId, const std::string& windowName, const WindowRect& windowFrame,
                       double refreshTimeStamp)
    : windowId_(windowId), windowName_(shortenedName(windowName)), windowFrame_(windowFrame),
      refreshTimeStamp_(refreshTimeStamp)
{
}

int32_t windowInfo::windowId() const
{
    std::lock_guard lock(mutex_);
    return windowId_;
}

void windowInfo::setWindowId(int32_t windowId)
{
    std::lock_guard lock(mutex_);
    windowId_ = windowId;
}

std::string windowInfo::windowName() const
{
    std::lock_guard lock(mutex_);
    return windowName_;
}

void windowInfo::setWindowName(const std::string& windowName)
{
    std::lock_guard lock(mutex_);
    windowName_ = windowName;
}

void windowInfo::resetWindowName(const std::string& windowName)
{
    setWindowName(shortenedName(windowName));
}

WindowRect windowInfo::windowFrame() const
{
    std::lock_guard lock(mutex_);
    return windowFrame_;
}

void windowInfo::setWindowFrame(const WindowRect& windowFrame)
{
    std::lock_guard lock(mutex_);
    windowFrame_ = windowFrame;
}

double windowInfo::refreshTimeStamp() const
{
    std::lock_guard lock(mutex_);
    return refreshTimeStamp_;
}

void windowInfo::setRefreshTimeStamp(double refreshTimeStamp)
{
    std::lock_guard lock(mutex_);
    refreshTimeStamp_ = refreshTimeStamp;
}

std::string windowInfo::shortenedName(const std::string& windowName)
{
    size_t units = 0;
    size_t cut = 0;
    while (cut < windowName.size()) {
        const size_t length = std::min(sequenceLength(static_cast<unsigned char>(windowName[cut])),
                                       windowName.size() - cut);
        // Characters outside the Basic Multilingual Plane take two UTF-16 code units.
        const size_t characterUnits = length == 4 ? 2 : 1;
        if (units + characterUnits > kMaxNameUnits)
            return windowName.substr(0, cut) + "...";
        units += characterUnits;
        cut += length;
    }
    return windowName;
}
