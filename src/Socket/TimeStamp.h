#pragma once

#include <chrono>
#include <cstdint>

// The time stamp messages carry on the wire: microseconds since 1970.
namespace TimeStamp {

inline uint64_t nowMicroseconds()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace TimeStamp
