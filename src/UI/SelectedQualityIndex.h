#pragma once

#include <atomic>
#include <cstdint>

// The user's choice of the cast's size: 0 automatic (the TV's answer), 1 1080P, 2 720P, 3 2K.
// Process-wide and in memory only; written by the quality picker, read by casting when it (re)starts
// capture. An atomic, so the picker and casting may run on different threads.
extern std::atomic<int32_t> gSelectedQualityIndex;
