#pragma once

#include <cstdint>

// Where SoundPreferences reports the default output's volume: the application sends it to the TV.
// Called on the sound server's notification thread.
class OutputVolumeSink {
public:
    virtual ~OutputVolumeSink() = default;
    // The volume in percent, truncated.
    virtual void outputVolumeChanged(int32_t percent) = 0;
};
