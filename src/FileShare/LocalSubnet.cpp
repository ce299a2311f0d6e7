#include "FileShare/LocalSubnet.h"

#include "Utils/Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string>

std::vector<LocalSubnet::Interface> LocalSubnet::fromIfaddrs(const ifaddrs* list)
{
    std::vector<Interface> interfaces;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_netmask || entry->ifa_addr->sa_family != AF_INET)
            continue;
        Interface interface;
        interface.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        interface.netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
        interfaces.push_back(interface);
    }
    return interfaces;
}

std::vector<LocalSubnet::Interface> LocalSubnet::localInterfaces()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        PLOG("cannot list the network interfaces: %s", std::strerror(errno));
        return {};
    }
    auto interfaces = fromIfaddrs(list);
    ::freeifaddrs(list);
    return interfaces;
}

bool LocalSubnet::contains(const std::vector<Interface>& interfaces, std::string_view address)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, std::string(address).c_str(), &parsed) != 1)
        return false;
    for (const auto& interface : interfaces) {
        if (((parsed.s_addr ^ interface.address) & interface.netmask) == 0)
            return true;
    }
    return false;
}

bool LocalSubnet::isOnLocalSubnet(std::string_view address)
{
    return contains(localInterfaces(), address);
}
