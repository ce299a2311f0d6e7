#include "Socket/StreamHistories.h"

#include "Socket/MessageType.h"

StreamHistory& StreamHistories::forStream(uint32_t streamType)
{
    switch (streamType) {
    case kMsgVideoFrame:
        return video;
    case kMsgAudioFrame:
        return audio;
    default:
        return other;
    }
}
