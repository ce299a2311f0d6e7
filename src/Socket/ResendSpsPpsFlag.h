#pragma once

#include <atomic>
#include <cstdint>

// Set to 1 when the TV asks for the parameter sets again (kMsgRequestSpsPps); the encoder's output
// clears it and puts SPS and PPS in front of the next frame that is not a key frame. 0 at start.
extern std::atomic<uint8_t> gResendSpsPpsFlag;
