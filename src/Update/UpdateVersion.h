#pragma once

#include <string_view>

// Version texts compared as people read them: runs of digits count as numbers, so "1.10" is above
// "1.9"; everything else compares character by character.
class UpdateVersion {
public:
    // Negative, 0 or positive as a is below, equal to or above b.
    static int compare(std::string_view a, std::string_view b);
    // True only when offered compares above running.
    static bool isNewer(std::string_view offered, std::string_view running) { return compare(offered, running) > 0; }
};
