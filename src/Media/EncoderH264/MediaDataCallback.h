#pragma once

#include <cstdint>

// Receives one encoded media unit (a video access unit, or an ADTS audio frame) with the user data it
// was registered with. The bytes are valid only during the call: the receiver copies what it keeps.
// The result says whether the unit went on its way: negative when it was not sent (dropped, as when
// the link's send list is full), zero or more when it was. RecordManager answers a dropped video
// unit by asking its encoder for a key frame and hands over no delta unit before that key frame has
// gone through; AudioManager does not read the result (an audio frame needs none before it).
using MediaDataCallback = int32_t (*)(void* userData, const uint8_t* bytes, uint32_t length);
