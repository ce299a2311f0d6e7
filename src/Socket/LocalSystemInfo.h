#pragma once

#include <string>

// What the client information tells the TV about this computer.
class LocalSystemInfo {
public:
    // "major.minor.patch" from the kernel release ("6.1.0-18-amd64" gives "6.1.0"); missing numbers
    // are 0.
    static std::string osVersionText();
    // The user's login name, from the user database or else the environment; empty when unknown.
    static std::string loginName();
};
