#pragma once

#include "Socket/StreamHistory.h"

#include <cstdint>

// The three sent-message histories of the UDP side channel. The transport client creates one set
// with itself and keeps it for its lifetime (not emptied at disconnect); each channel it opens
// sends through it.
class StreamHistories {
public:
    StreamHistory video; // kMsgVideoFrame
    StreamHistory audio; // kMsgAudioFrame
    StreamHistory other; // every other type

    // The history a message of this type is kept in.
    StreamHistory& forType(uint16_t type) { return forStream(type); }
    // The history a resend request names: the video or audio frame type, anything else the other stream.
    StreamHistory& forStream(uint32_t streamType);
};
