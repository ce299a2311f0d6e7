#include "Rozi/NetService.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <netinet/in.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// One resolver per IP version, and what each found.
struct Resolution {
    struct Family {
        AvahiServiceResolver* resolver = nullptr;
        bool answered = false;
        NetSocketAddress::Data address;
    };
    std::array<Family, 2> families; // IPv4, IPv6
    std::string hostName;
    uint16_t port = 0;
    int failure = AVAHI_OK;

    bool allAnswered() const { return families[0].answered && families[1].answered; }
    bool anyAddress() const { return !families[0].address.empty() || !families[1].address.empty(); }
};

NetSocketAddress::Data socketAddress(const AvahiAddress& address, AvahiIfIndex interface, uint16_t port)
{
    if (address.proto == AVAHI_PROTO_INET) {
        sockaddr_in ipv4{};
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = address.data.ipv4.address;
        return NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4);
    }
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    static_assert(sizeof ipv6.sin6_addr == sizeof address.data.ipv6.address);
    std::memcpy(&ipv6.sin6_addr, address.data.ipv6.address, sizeof ipv6.sin6_addr);
    // A link-local address means something only on the interface it was found on.
    if (IN6_IS_ADDR_LINKLOCAL(&ipv6.sin6_addr) && interface > 0)
        ipv6.sin6_scope_id = static_cast<uint32_t>(interface);
    return NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6);
}

void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
              const char*, const char*, const char*, const char* hostName, const AvahiAddress* address, uint16_t port,
              AvahiStringList*, AvahiLookupResultFlags, void* context)
{
    auto& resolution = *static_cast<Resolution*>(context);
    Resolution::Family& family = resolution.families[resolution.families[0].resolver == resolver ? 0 : 1];
    family.answered = true;
    if (event != AVAHI_RESOLVER_FOUND || address == nullptr) {
        resolution.failure = avahi_client_errno(avahi_service_resolver_get_client(resolver));
        return;
    }
    family.address = socketAddress(*address, interface, port);
    resolution.hostName = hostName != nullptr ? hostName : "";
    resolution.port = port;
}

NetSocketError avahiError(int code, const std::string& what)
{
    return {NetService::kErrorDomain, code, what + ": " + avahi_strerror(code), {}, {}};
}

struct PollDeleter {
    void operator()(AvahiSimplePoll* poll) const { avahi_simple_poll_free(poll); }
};
struct ClientDeleter {
    void operator()(AvahiClient* client) const { avahi_client_free(client); }
};

} // namespace

NetService::NetService(std::string name, std::string type, std::string domain)
    : name_(std::move(name)), type_(std::move(type)), domain_(std::move(domain))
{
}

bool NetService::resolve(double timeout, NetSocketError* error)
{
    hostName_.clear();
    port_ = 0;
    addresses_.clear();
    const std::unique_ptr<AvahiSimplePoll, PollDeleter> poll(avahi_simple_poll_new());
    if (!poll) {
        NetSocketError::assign(error, avahiError(AVAHI_ERR_NO_MEMORY, "No event loop for the Avahi client"));
        return false;
    }
    int code = AVAHI_OK;
    const std::unique_ptr<AvahiClient, ClientDeleter> client(
        avahi_client_new(avahi_simple_poll_get(poll.get()), AvahiClientFlags(0), nullptr, nullptr, &code));
    if (!client) {
        NetSocketError::assign(error, avahiError(code, "The Avahi daemon cannot be reached"));
        return false;
    }
    Resolution resolution;
    const AvahiProtocol families[] = {AVAHI_PROTO_INET, AVAHI_PROTO_INET6};
    for (size_t i = 0; i < 2; ++i) {
        resolution.families[i].resolver = avahi_service_resolver_new(
            client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, name_.c_str(), type_.c_str(), domain_.c_str(),
            families[i], AvahiLookupFlags(0), resolved, &resolution);
        if (!resolution.families[i].resolver) {
            resolution.families[i].answered = true;
            resolution.failure = avahi_client_errno(client.get());
        }
    }
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    std::optional<Clock::time_point> firstAddress;
    while (!resolution.allAnswered()) {
        if (resolution.anyAddress() && !firstAddress)
            firstAddress = Clock::now();
        const auto until = firstAddress ? std::min(deadline, *firstAddress + kSecondFamilyWait) : deadline;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || avahi_simple_poll_iterate(poll.get(), static_cast<int>(left.count())) != 0)
            break;
    }
    for (Resolution::Family& family : resolution.families) {
        if (family.resolver)
            avahi_service_resolver_free(family.resolver);
        if (!family.address.empty())
            addresses_.push_back(std::move(family.address));
    }
    if (addresses_.empty()) {
        const int why = resolution.failure != AVAHI_OK ? resolution.failure : AVAHI_ERR_TIMEOUT;
        NetSocketError::assign(error, avahiError(why, "The service " + name_ + " did not resolve"));
        return false;
    }
    hostName_ = std::move(resolution.hostName);
    port_ = resolution.port;
    return true;
}
