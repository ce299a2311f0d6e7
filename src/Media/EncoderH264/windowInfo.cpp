#include "Media/EncoderH264/windowInfo.h"

#include "Utils/Locked.h"

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

windowInfo::windowInfo(int32_t windowId, const std::string& windowName, const Rect& windowFrame,
                       double refreshTimeStamp)
    : windowId_(windowId), windowName_(shortenedName(windowName)), windowFrame_(windowFrame),
      refreshTimeStamp_(refreshTimeStamp)
{
}

int32_t windowInfo::windowId() const
{
    return lockedRead(mutex_, windowId_);
}

void windowInfo::setWindowId(int32_t windowId)
{
    lockedWrite(mutex_, windowId_, windowId);
}

std::string windowInfo::windowName() const
{
    return lockedRead(mutex_, windowName_);
}

void windowInfo::setWindowName(const std::string& windowName)
{
    lockedWrite(mutex_, windowName_, windowName);
}

void windowInfo::resetWindowName(const std::string& windowName)
{
    setWindowName(shortenedName(windowName));
}

Rect windowInfo::windowFrame() const
{
    return lockedRead(mutex_, windowFrame_);
}

void windowInfo::setWindowFrame(const Rect& windowFrame)
{
    lockedWrite(mutex_, windowFrame_, windowFrame);
}

double windowInfo::refreshTimeStamp() const
{
    return lockedRead(mutex_, refreshTimeStamp_);
}

void windowInfo::setRefreshTimeStamp(double refreshTimeStamp)
{
    lockedWrite(mutex_, refreshTimeStamp_, refreshTimeStamp);
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
