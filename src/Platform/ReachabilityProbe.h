#pragma once

#include <cstdint>
#include <functional>
#include <optional>

// A network target whose reachability flags can be read and watched: the platform side of
// NetworkReachability. The flags are the platform's 32-bit reachability bits (reachable 0x2 and kin).
class ReachabilityProbe {
public:
    using Changed = std::function<void(uint32_t flags)>;

    virtual ~ReachabilityProbe() = default;

    // The flags as last evaluated; nullopt when they cannot be read (yet). Never waits on the network.
    virtual std::optional<uint32_t> flags() = 0;
    // Reports every change of the flags to `changed`, from any thread, one call at a time; the first
    // evaluation after the call is always reported. False when changes cannot be watched.
    virtual bool setCallback(Changed changed) = 0;
    // Ends the reports: once it returns, no call of the callback runs or will begin. Never from the
    // callback itself.
    virtual void removeCallback() = 0;
};
