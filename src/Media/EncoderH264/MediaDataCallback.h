#pragma once

#include <cstdint>

// Receives one encoded media unit (a video access unit, or an ADTS audio frame) with the user data it
// was registered with. The bytes are valid only during the call: the receiver copies what it keeps.
// The result is not read.
using MediaDataCallback = int32_t (*)(void* userData, const uint8_t* bytes, uint32_t length);
