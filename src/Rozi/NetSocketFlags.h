#pragma once

#include <cstdint>

// The state bits of a NetSocket, touched only on its socket queue.
namespace NetSocketFlag {
enum : uint32_t {
    Started = 0x1, // accept or connect has begun; only a started socket reports its disconnection
    Connected = 0x2,
    ForbidReadsWrites = 0x4, // set by the disconnect-after requests
    ReadsPaused = 0x8, // a read time-out waits for the delegate's answer
    WritesPaused = 0x10,
    DisconnectAfterReads = 0x20,
    DisconnectAfterWrites = 0x40,
    SocketCanAcceptBytes = 0x80,
    ReadSourceSuspended = 0x100,
    WriteSourceSuspended = 0x200,
    QueuedTLS = 0x400,
    StartingReadTLS = 0x800,
    StartingWriteTLS = 0x1000,
    SocketSecure = 0x2000,
    SocketHasReadEOF = 0x4000,
    ReadStreamClosed = 0x8000, // half duplex: reading ended, writing goes on
    Dealloc = 0x10000,
};
}

// The configuration bits; they survive a close.
namespace NetSocketConfig {
enum : uint16_t {
    IPv4Disabled = 0x1,
    IPv6Disabled = 0x2,
    PreferIPv6 = 0x4,
    AllowHalfDuplexConnection = 0x8,
};
}
