#include "Platform/HostReachabilityProbe.h"

#include "Platform/FixedWidthQueue.h"
#include "Platform/NetlinkRouteWatcher.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <variant>

namespace {

// A documentation address (TEST-NET-1): a route to it is a route to the internet at large. A UDP
// connect() sends nothing, so nothing ever goes there.
constexpr const char* kInternetProbe = "192.0.2.1";
// Any port: the route test sends no datagram.
constexpr uint16_t kProbePort = 443;

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr)) == 0;
}

bool isOwnAddress(const sockaddr_storage& address)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool own = false;
    for (const ifaddrs* entry = list; entry && !own; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != address.ss_family)
            continue;
        sockaddr_storage mine{};
        std::memcpy(&mine, entry->ifa_addr,
                    address.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
        own = sameAddress(mine, address);
    }
    ::freeifaddrs(list);
    return own;
}

bool isAnyAddress(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == htonl(INADDR_ANY);
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

// True when the kernel has a route to the address.
bool hasRoute(sockaddr_storage address)
{
    socklen_t length = sizeof(sockaddr_in6);
    if (address.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(kProbePort);
        length = sizeof(sockaddr_in);
    } else {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(kProbePort);
    }
    const int fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return false;
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return routed;
}

} // namespace

// What the evaluations share with the probe; they may outlive it on the global queue.
struct HostReachabilityProbe::State {
    std::variant<std::string, sockaddr_storage> target;

    std::mutex mutex;
    std::optional<uint32_t> flags;      // under mutex
    bool evaluating = false;            // under mutex: an evaluation is queued or running
    bool evaluateAgain = false;         // under mutex: a change came during it
    std::optional<uint32_t> reported;   // under mutex: what the callback last heard

    // Held while the callback runs, so removeCallback can wait for a running call.
    std::mutex callMutex;
    Changed changed;                    // under callMutex

    uint32_t evaluateOnce() const
    {
        if (const auto* name = std::get_if<std::string>(&target))
            return evaluateHost(*name);
        return evaluateAddress(std::get<sockaddr_storage>(target));
    }

    // Queues an evaluation unless one is under way, in which case that one runs once more.
    static void evaluate(const std::shared_ptr<State>& self)
    {
        {
            std::lock_guard lock(self->mutex);
            if (self->evaluating) {
                self->evaluateAgain = true;
                return;
            }
            self->evaluating = true;
        }
        // "blocking": the name look-up may take long.
        FixedWidthQueue::blockingCalls()->async([self] { self->run(); });
    }

    void run()
    {
        for (;;) {
            const uint32_t now = evaluateOnce();
            bool report = false;
            {
                std::lock_guard lock(mutex);
                flags = now;
                report = reported != now;
                if (!evaluateAgain)
                    evaluating = false;
                evaluateAgain = false;
            }
            if (report)
                tell(now);
            std::lock_guard lock(mutex);
            if (!evaluating)
                return;
        }
    }

    void tell(uint32_t now)
    {
        std::lock_guard call(callMutex);
        if (!changed)
            return;
        {
            std::lock_guard lock(mutex);
            if (reported == now)
                return;
            reported = now;
        }
        changed(now);
    }
};

HostReachabilityProbe::HostReachabilityProbe(std::shared_ptr<State> state) : state_(std::move(state)) {}

HostReachabilityProbe::~HostReachabilityProbe()
{
    removeCallback();
}

std::unique_ptr<HostReachabilityProbe> HostReachabilityProbe::forHost(const std::string& name)
{
    if (name.empty())
        return nullptr;
    auto state = std::make_shared<State>();
    state->target = name;
    return std::unique_ptr<HostReachabilityProbe>(new HostReachabilityProbe(std::move(state)));
}

std::unique_ptr<HostReachabilityProbe> HostReachabilityProbe::forAddress(const sockaddr* address, socklen_t length)
{
    if (!address)
        return nullptr;
    const bool v4 = address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in));
    const bool v6 = address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6));
    if (!v4 && !v6)
        return nullptr;
    sockaddr_storage stored{};
    std::memcpy(&stored, address, v4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    auto state = std::make_shared<State>();
    state->target = stored;
    return std::unique_ptr<HostReachabilityProbe>(new HostReachabilityProbe(std::move(state)));
}

std::optional<uint32_t> HostReachabilityProbe::flags()
{
    bool known;
    std::optional<uint32_t> flags;
    {
        std::lock_guard lock(state_->mutex);
        flags = state_->flags;
        known = flags.has_value() || state_->evaluating;
    }
    if (!known)
        State::evaluate(state_);
    return flags;
}

bool HostReachabilityProbe::setCallback(Changed changed)
{
    removeCallback();
    {
        std::lock_guard call(state_->callMutex);
        state_->changed = std::move(changed);
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->reported.reset();
    }
    // Holds the state weakly: a change may be read after the probe went.
    std::weak_ptr<State> weak = state_;
    watcher_ = NetlinkRouteWatcher::create([weak] {
        if (auto state = weak.lock())
            State::evaluate(state);
    });
    State::evaluate(state_);
    return true;
}

void HostReachabilityProbe::removeCallback()
{
    watcher_.reset();
    std::lock_guard call(state_->callMutex);
    state_->changed = nullptr;
}

uint32_t HostReachabilityProbe::evaluateHost(const std::string& name)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0)
        return 0;
    uint32_t flags = 0;
    for (const addrinfo* entry = found; entry && !(flags & kReachable); entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, std::min<size_t>(entry->ai_addrlen, sizeof(address)));
        flags = evaluateAddress(address);
    }
    ::freeaddrinfo(found);
    return flags;
}

uint32_t HostReachabilityProbe::evaluateAddress(const sockaddr_storage& address)
{
    sockaddr_storage target = address;
    if (address.ss_family == AF_INET && isAnyAddress(address))
        ::inet_pton(AF_INET, kInternetProbe, &reinterpret_cast<sockaddr_in&>(target).sin_addr);
    else if (isAnyAddress(address))
        return 0;
    if (!hasRoute(target))
        return 0;
    const bool own = isOwnAddress(target);
    return kReachable | (own ? kIsLocalAddress | kIsDirect : 0);
}
