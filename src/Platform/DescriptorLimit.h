#pragma once

#include <cstdint>
#include <optional>

// The process's limit on open descriptors. The usual soft limit (1,024) is far below what the
// hard limit allows, and a neighbour that opens many connections could use it up; the application
// raises it once at start.
class DescriptorLimit {
public:
    // Raises the soft limit to the hard one (logged); the soft limit now in force, nullopt when it
    // cannot be read.
    static std::optional<uint64_t> raiseToHardLimit();
};
