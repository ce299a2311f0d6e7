#pragma once

#include "Platform/ReachabilityProbe.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class SerialQueue;

// Whether a network target can be reached: answers at once from the probe's current flags and, once
// started, reports every change through three closures and the notification
// kNetworkReachabilityChangedNotification.
//
// Threads: made and asked on any thread (the main thread here). Changes run one at a time on the
// serial queue "com.brevalomint.reachability", inside which the closures run; observers of the
// notification are called on the main queue. While started it keeps itself alive; stopNotifier()
// ends that, and once it returns no closure runs or will begin, even with a change pending.
class NetworkReachability final : public std::enable_shared_from_this<NetworkReachability> {
public:
    static constexpr const char* kNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";
    static constexpr const char* kQueueLabel = "com.brevalomint.reachability";

    // The platform's flag bits.
    static constexpr uint32_t kTransientConnection = 0x1;
    static constexpr uint32_t kReachable = 0x2;
    static constexpr uint32_t kConnectionRequired = 0x4;
    static constexpr uint32_t kConnectionOnTraffic = 0x8;
    static constexpr uint32_t kInterventionRequired = 0x10;
    static constexpr uint32_t kConnectionOnDemand = 0x20;
    static constexpr uint32_t kIsLocalAddress = 0x10000;
    static constexpr uint32_t kIsDirect = 0x20000;

    // currentReachabilityStatus values.
    static constexpr int NotReachable = 0;
    static constexpr int ReachableViaWWAN = 1;
    static constexpr int ReachableViaWiFi = 2;

    using Block = std::function<void(NetworkReachability&)>;
    using FlagsBlock = std::function<void(NetworkReachability&, uint32_t flags)>;
    using Observer = std::function<void(const std::shared_ptr<NetworkReachability>& object)>;

    // nullptr when no target can be made (an empty name, an address of another family).
    static std::shared_ptr<NetworkReachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<NetworkReachability> reachabilityWithHostname(const std::string& hostName)
    {
        return reachabilityWithHostName(hostName);
    }
    static std::shared_ptr<NetworkReachability> reachabilityWithAddress(const sockaddr* address, socklen_t length);
    static std::shared_ptr<NetworkReachability> reachabilityForInternetConnection();
    static std::shared_ptr<NetworkReachability> reachabilityForLocalWiFi();
    // Over a given probe (tests give a fake); nullptr for none.
    static std::shared_ptr<NetworkReachability> initWithReachabilityRef(std::unique_ptr<ReachabilityProbe> probe);

    // Stops the notifier.
    ~NetworkReachability();
    NetworkReachability(const NetworkReachability&) = delete;
    NetworkReachability& operator=(const NetworkReachability&) = delete;

    // Idempotent: a running notifier answers true without registering again.
    bool startNotifier();
    void stopNotifier();

    void setReachableBlock(Block block);
    void setUnreachableBlock(Block block);
    void setReachabilityBlock(FlagsBlock block);

    static bool isReachableWithFlags(uint32_t flags);
    bool isReachable() const;
    bool isReachableViaWWAN() const { return false; }
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    uint32_t reachabilityFlags() const;
    int currentReachabilityStatus() const;
    std::string currentReachabilityString() const;
    std::string currentReachabilityFlags() const;
    // The flags as that text: 'X' then one letter or '-' per bit.
    static std::string flagsText(uint32_t flags);

    bool reachableOnWWAN() const { return true; }
    bool running() const;

    // The notification's observers; the id removes one. Any thread.
    static uint64_t addObserver(Observer observer);
    static void removeObserver(uint64_t id);

private:
    explicit NetworkReachability(std::unique_ptr<ReachabilityProbe> probe);
    // On the serial queue.
    void changed(uint32_t flags);

    const std::unique_ptr<ReachabilityProbe> reachabilityRef_;
    const std::shared_ptr<SerialQueue> reachabilitySerialQueue_;

    mutable std::mutex mutex_;
    Block reachableBlock_;                                    // under mutex_
    Block unreachableBlock_;                                  // under mutex_
    FlagsBlock reachabilityBlock_;                            // under mutex_
    std::shared_ptr<NetworkReachability> reachabilityObject_;  // under mutex_: itself while running
    // Counts starts and stops: a change queued under an earlier start finds it moved and does nothing.
    uint64_t generation_ = 0;                                  // under mutex_
    // Held while a change runs its closures, so a stop from elsewhere waits for them.
    std::mutex changeMutex_;
};
