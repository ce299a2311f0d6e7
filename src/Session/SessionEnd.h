#pragma once

#include <cstdint>

// What the end-of-session step ends (MainWindowController::endSession): a cast, on every road that
// stops one; or the link, whose end stops a running cast first. Each concern undoes in its
// endSession what it started in the cast or the link.
enum class SessionEnd : uint8_t { Cast, Link };
