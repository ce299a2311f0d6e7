#pragma once

#include <string>

// What the settings popover shows. Main thread.
class HelpView {
public:
    virtual ~HelpView() = default;

    // A switch's state and its picture ("SoundON" on, "SoundOff" off).
    virtual void showSoundSwitch(bool on) = 0;
    virtual void showLogSwitch(bool on) = 0;
    // The file the log switch writes to, for the user to find it; empty when none can be made.
    virtual void showLogFilePath(const std::string& path) = 0;
    // The quality chosen, under the quality entry.
    virtual void showQualityInfo(const std::string& text) = 0;
    // The popover's size in points, and whether the quality entry is among its entries.
    virtual void setContentSize(int width, int height) = 0;
    virtual void showQualityEntry(bool shown) = 0;
};
