#include "Session/AudioManagerSoundSource.h"

void AudioManagerSoundSource::StartRecord()
{
    manager_.StartRecord();
}

void AudioManagerSoundSource::StopRecord()
{
    manager_.StopRecord();
}

void AudioManagerSoundSource::SetCallback(void* userData, MediaDataCallback callback)
{
    manager_.SetCallback(userData, callback);
}
