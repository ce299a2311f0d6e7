#include "Platform/NetworkReachability.h"

#include "Platform/HostReachabilityProbe.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <map>
#include <vector>

namespace {

struct Observers {
    std::mutex mutex;
    uint64_t nextId = 1;
    std::map<uint64_t, NetworkReachability::Observer> byId;
};

Observers& observers()
{
    static Observers shared;
    return shared;
}

std::shared_ptr<NetworkReachability> forIPv4(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return NetworkReachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

} // namespace

NetworkReachability::NetworkReachability(std::unique_ptr<ReachabilityProbe> probe)
    : reachabilityRef_(std::move(probe)), reachabilitySerialQueue_(SerialQueue::create(kQueueLabel))
{
}

NetworkReachability::~NetworkReachability()
{
    reachabilityRef_->removeCallback();
}

std::shared_ptr<NetworkReachability> NetworkReachability::initWithReachabilityRef(std::unique_ptr<ReachabilityProbe> probe)
{
    if (!probe)
        return nullptr;
    return std::shared_ptr<NetworkReachability>(new NetworkReachability(std::move(probe)));
}

std::shared_ptr<NetworkReachability> NetworkReachability::reachabilityWithHostName(const std::string& hostName)
{
    return initWithReachabilityRef(HostReachabilityProbe::forHost(hostName));
}

std::shared_ptr<NetworkReachability> NetworkReachability::reachabilityWithAddress(const sockaddr* address,
                                                                                  socklen_t length)
{
    return initWithReachabilityRef(HostReachabilityProbe::forAddress(address, length));
}

std::shared_ptr<NetworkReachability> NetworkReachability::reachabilityForInternetConnection()
{
    return forIPv4("0.0.0.0");
}

std::shared_ptr<NetworkReachability> NetworkReachability::reachabilityForLocalWiFi()
{
    return forIPv4("169.254.0.0");
}

bool NetworkReachability::startNotifier()
{
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (reachabilityObject_)
            return true;
        generation = ++generation_;
        reachabilityObject_ = shared_from_this();
    }
    // The probe may call from any thread; each change moves to the serial queue. Held weakly, so a
    // change still in flight when the object goes finds nothing to run.
    std::weak_ptr<NetworkReachability> weak = weak_from_this();
    const bool registered = reachabilityRef_->setCallback([weak, generation](uint32_t flags) {
        const auto owner = weak.lock();
        if (!owner)
            return;
        owner->reachabilitySerialQueue_->async([weak, generation, flags] {
            auto self = weak.lock();
            if (!self)
                return;
            std::lock_guard change(self->changeMutex_);
            {
                std::lock_guard lock(self->mutex_);
                if (self->generation_ != generation || !self->reachabilityObject_)
                    return;
            }
            self->changed(flags);
        });
    });
    if (registered)
        return true;
    std::lock_guard lock(mutex_);
    reachabilityObject_.reset();
    return false;
}

void NetworkReachability::stopNotifier()
{
    reachabilityRef_->removeCallback();
    std::shared_ptr<NetworkReachability> self;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        self = std::move(reachabilityObject_);
    }
    // A change running its closures elsewhere is waited for; from inside one, that would never end.
    if (!reachabilitySerialQueue_->isCurrent())
        std::lock_guard change(changeMutex_);
}

bool NetworkReachability::running() const
{
    std::lock_guard lock(mutex_);
    return reachabilityObject_ != nullptr;
}

void NetworkReachability::changed(uint32_t flags)
{
    Block reachable;
    Block unreachable;
    FlagsBlock any;
    {
        std::lock_guard lock(mutex_);
        reachable = reachableBlock_;
        unreachable = unreachableBlock_;
        any = reachabilityBlock_;
    }
    if (isReachableWithFlags(flags)) {
        if (reachable)
            reachable(*this);
    } else if (unreachable) {
        unreachable(*this);
    }
    if (any)
        any(*this, flags);
    MainQueue::shared()->async([self = shared_from_this()] {
        std::vector<Observer> toCall;
        {
            std::lock_guard lock(observers().mutex);
            for (const auto& [id, observer] : observers().byId)
                toCall.push_back(observer);
        }
        for (const auto& observer : toCall)
            observer(self);
    });
}

void NetworkReachability::setReachableBlock(Block block)
{
    std::lock_guard lock(mutex_);
    reachableBlock_ = std::move(block);
}

void NetworkReachability::setUnreachableBlock(Block block)
{
    std::lock_guard lock(mutex_);
    unreachableBlock_ = std::move(block);
}

void NetworkReachability::setReachabilityBlock(FlagsBlock block)
{
    std::lock_guard lock(mutex_);
    reachabilityBlock_ = std::move(block);
}

bool NetworkReachability::isReachableWithFlags(uint32_t flags)
{
    if (!(flags & kReachable))
        return false;
    return (flags & (kConnectionRequired | kTransientConnection)) != (kConnectionRequired | kTransientConnection);
}

bool NetworkReachability::isReachable() const
{
    const auto flags = reachabilityRef_->flags();
    return flags && isReachableWithFlags(*flags);
}

bool NetworkReachability::isReachableViaWiFi() const
{
    const auto flags = reachabilityRef_->flags();
    return flags && (*flags & kReachable);
}

bool NetworkReachability::isConnectionRequired() const
{
    return reachabilityFlags() & kConnectionRequired;
}

bool NetworkReachability::isConnectionOnDemand() const
{
    const uint32_t flags = reachabilityFlags();
    return (flags & kConnectionRequired) && (flags & (kConnectionOnTraffic | kConnectionOnDemand));
}

bool NetworkReachability::isInterventionRequired() const
{
    const uint32_t flags = reachabilityFlags();
    return (flags & kConnectionRequired) && (flags & kInterventionRequired);
}

uint32_t NetworkReachability::reachabilityFlags() const
{
    return reachabilityRef_->flags().value_or(0);
}

int NetworkReachability::currentReachabilityStatus() const
{
    // One reading of the flags serves both tests, so a change between them cannot mix two states.
    const auto flags = reachabilityRef_->flags();
    return flags && isReachableWithFlags(*flags) ? ReachableViaWiFi : NotReachable;
}

std::string NetworkReachability::currentReachabilityString() const
{
    switch (currentReachabilityStatus()) {
    case ReachableViaWiFi:
        return "WiFi";
    case ReachableViaWWAN:
        return "Cellular";
    default:
        return "No Connection";
    }
}

std::string NetworkReachability::currentReachabilityFlags() const
{
    return flagsText(reachabilityFlags());
}

std::string NetworkReachability::flagsText(uint32_t flags)
{
    static constexpr std::pair<uint32_t, char> kLetters[] = {
        {kReachable, 'R'},          {kConnectionRequired, 'c'},   {kTransientConnection, 't'},
        {kInterventionRequired, 'i'}, {kConnectionOnTraffic, 'C'}, {kConnectionOnDemand, 'D'},
        {kIsLocalAddress, 'l'},     {kIsDirect, 'd'}};
    std::string text = "X";
    for (const auto& [bit, letter] : kLetters) {
        text += flags & bit ? letter : '-';
        if (bit == kReachable)
            text += ' ';
    }
    return text;
}

uint64_t NetworkReachability::addObserver(Observer observer)
{
    std::lock_guard lock(observers().mutex);
    const uint64_t id = observers().nextId++;
    observers().byId.emplace(id, std::move(observer));
    return id;
}

void NetworkReachability::removeObserver(uint64_t id)
{
    std::lock_guard lock(observers().mutex);
    observers().byId.erase(id);
}
