#pragma once

#include "Media/AudioManager/AudioManager.h"
#include "Session/CastSoundSource.h"

// A cast's sound from the loopback device: AudioManager behind casting's interface.
class AudioManagerSoundSource final : public CastSoundSource {
public:
    void StartRecord() override;
    void StopRecord() override;
    void SetCallback(void* userData, MediaDataCallback callback) override;

private:
    AudioManager manager_;
};
