#pragma once

#include <chrono>

// How long tv-sim's waiting helpers wait when the caller names no limit: far beyond any loopback
// answer, short enough that a lost one fails a test rather than hangs it.
using SimTimeout = std::chrono::milliseconds;
inline constexpr SimTimeout kSimDefaultTimeout{10'000};
