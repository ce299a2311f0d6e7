#pragma once

#include "Media/EncoderH264/MediaDataCallback.h"

// What casting drives of the sound capture: AudioManager's operations, so tests can cast without a
// sound server. Same contract as AudioManager: once StopRecord returns, the callback is not called
// again.
class CastSoundSource {
public:
    virtual ~CastSoundSource() = default;
    virtual void StartRecord() = 0;
    virtual void StopRecord() = 0;
    virtual void SetCallback(void* userData, MediaDataCallback callback) = 0;
};
