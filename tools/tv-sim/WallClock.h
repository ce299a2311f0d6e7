#pragma once

#include <chrono>
#include <cstdint>

// Microseconds since the Unix epoch: the clock of the transport's header time stamps, so a time
// taken here minus a sender's stamp is a latency when both ends share the machine.
inline uint64_t wallMicros()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}
