#pragma once

#include "Utils/Rect.h"

#include <cstdint>
#include <mutex>
#include <string>

// One window that can be cast: made by the window picker from the window list and handed to the
// capture by the session controller. Every field may be read and written from any thread.
class windowInfo {
public:
    // Names longer than this many UTF-16 code units are cut for display.
    static constexpr size_t kMaxNameUnits = 18;

    windowInfo() = default;
    // The name is stored through resetWindowName.
    windowInfo(int32_t windowId, const std::string& windowName, const Rect& windowFrame, double refreshTimeStamp);

    int32_t windowId() const;
    void setWindowId(int32_t windowId);
    std::string windowName() const;
    void setWindowName(const std::string& windowName);
    // Stores the name cut to its first kMaxNameUnits UTF-16 code units followed by "..." when it is
    // longer; a character that would be split in two is left out whole.
    void resetWindowName(const std::string& windowName);
    Rect windowFrame() const;
    void setWindowFrame(const Rect& windowFrame);
    // Seconds since 1970 when the record was made or last refreshed.
    double refreshTimeStamp() const;
    void setRefreshTimeStamp(double refreshTimeStamp);

    // The name shown for windowName by resetWindowName.
    static std::string shortenedName(const std::string& windowName);

private:
    mutable std::mutex mutex_;
    int32_t windowId_ = 0;
    std::string windowName_;
    Rect windowFrame_;
    double refreshTimeStamp_ = 0;
};
