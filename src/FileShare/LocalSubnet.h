#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct ifaddrs;

// Whether an IPv4 address lies in one of this computer's subnets: the file panel opens only for a TV
// it can serve.
class LocalSubnet {
public:
    struct Interface {
        uint32_t address = 0;  // network order
        uint32_t netmask = 0;  // network order
    };

    // The IPv4 interfaces of the list (up or not); entries without an address or a netmask are skipped.
    static std::vector<Interface> fromIfaddrs(const ifaddrs* list);
    // This computer's IPv4 interfaces; empty when they cannot be listed.
    static std::vector<Interface> localInterfaces();
    // True when the dotted IPv4 text parses and shares its masked bits with one of the interfaces.
    static bool contains(const std::vector<Interface>& interfaces, std::string_view address);
    // contains() over localInterfaces().
    static bool isOnLocalSubnet(std::string_view address);
};
