#pragma once

#include <cstdint>

class TcpClient;

// The listener function of the transport client. It is called on the receive thread, and on the
// video delivery thread for kMsgVideoFrame; text and data are valid only during the call, and data
// (never null for events from the wire) is followed by four zero bytes except for video frames.
// The result is ignored.
using TcpEventCallback = int (*)(void* user, TcpClient* client, int type, const char* text, const uint8_t* data,
                                 uint64_t timeStampUs, uint32_t length);
