#include "WebServer/HttpServerAddresses.h"

#include "Utils/Log.h"

#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sstream>

namespace {

// The interface of the IPv4 default route, from the kernel's routing table.
std::optional<std::string> defaultRouteInterface()
{
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        if (fields >> name >> destination && destination == "00000000") {
            return name;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string HttpServerAddresses::socketAddressText(const sockaddr* address, socklen_t length, bool includesPort)
{
    if (address == nullptr) {
        return {};
    }
    char host[1025];
    char service[32];
    if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service), NI_NUMERICHOST | NI_NUMERICSERV | NI_NOFQDN) != 0) {
        return {};
    }
    return includesPort ? std::string(host) + ":" + service : std::string(host);
}

std::optional<std::string> HttpServerAddresses::primaryNetworkAddress(bool useIPv6)
{
    const std::string interface = defaultRouteInterface().value_or("lo");
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        PLOG_ERRNO("getifaddrs");
        return std::nullopt;
    }
    const int family = useIPv6 ? AF_INET6 : AF_INET;
    std::optional<std::string> result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && interface == entry->ifa_name && (entry->ifa_flags & IFF_UP) != 0 &&
            entry->ifa_addr->sa_family == family) {
            const socklen_t length = useIPv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
            result = socketAddressText(entry->ifa_addr, length, false);
            break;
        }
    }
    freeifaddrs(list);
    return result;
}

std::string HttpServerAddresses::capKey(const std::vector<uint8_t>& address)
{
    if (address.size() >= sizeof(sockaddr_in) && reinterpret_cast<const sockaddr*>(address.data())->sa_family == AF_INET) {
        sockaddr_in ip{};
        std::memcpy(&ip, address.data(), sizeof(ip));
        return std::string(reinterpret_cast<const char*>(&ip.sin_addr), sizeof(ip.sin_addr));
    }
    if (address.size() >= sizeof(sockaddr_in6) && reinterpret_cast<const sockaddr*>(address.data())->sa_family == AF_INET6) {
        sockaddr_in6 ip{};
        std::memcpy(&ip, address.data(), sizeof(ip));
        return std::string(reinterpret_cast<const char*>(&ip.sin6_addr), 8);
    }
    return {};
}
