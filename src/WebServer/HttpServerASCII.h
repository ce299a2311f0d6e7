#pragma once

#include <string>
#include <string_view>

// Case folding of the ASCII letters alone, as HTTP tokens, header names and extensions need: the
// locale must not change how a protocol word compares.
class HttpServerASCII {
public:
    static std::string lowered(std::string_view text);
    static bool equalsIgnoringCase(std::string_view a, std::string_view b);
};
