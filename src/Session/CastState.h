#pragma once

#include <cstdint>

// Where the cast is. Idle; announced: the TV's quality answer awaited within the time-out, nothing
// captured; casting: capture and sound run and their media go to the TV; stopping: the stop under way
// (media that comes meanwhile is dropped, and no road stops it twice).
enum class CastState : uint8_t { Idle, Announced, Casting, Stopping };

// Every road that stops a cast. The link's end and the quit tell the TV nothing: it is gone, or going.
enum class CastStop : uint8_t { User, TimeOut, TvInterrupt, TvLock, WindowLost, LinkEnded, Quit };
