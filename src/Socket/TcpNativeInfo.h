#pragma once

#include "Socket/TcpEventCallback.h"

// The transport client's listener record. It lives inside its owner, which sets fn and user before
// it constructs the client; the client keeps a pointer to it.
struct TcpNativeInfo {
    void* cls = nullptr;          // never set
    void* tcp = nullptr;          // never set
    TcpClient* client = nullptr;  // never set
    TcpEventCallback fn = nullptr;
    void* user = nullptr;         // handed back as the callback's first argument
};
