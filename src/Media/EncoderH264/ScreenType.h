#pragma once

#include <cstdint>

// The cast source, also sent to the TV as the mirror type of the cast's video format.
using ScreenType = int64_t;

inline constexpr ScreenType kScreenTypeWholeScreen = 0;
inline constexpr ScreenType kScreenTypeExtendedScreen = 1;
inline constexpr ScreenType kScreenTypeWindow = 2;
