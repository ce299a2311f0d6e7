#pragma once

#include "Media/OutputVolumeSink.h"

class TCPManager;

// Tells the bound link's TV the output volume, as kMsgOutputVolume with the percentage as a
// big-endian Int32Payload. SoundPreferences reports each new value once (it keeps the last one
// sent), so every report here goes out.
class LinkOutputVolume final : public OutputVolumeSink {
public:
    // manager outlives this object.
    explicit LinkOutputVolume(TCPManager& manager);

    // The sound server's notification thread.
    void outputVolumeChanged(int32_t percent) override;

private:
    TCPManager& manager_;
};
