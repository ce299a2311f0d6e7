#pragma once

#include "Platform/ReachabilityProbe.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A reachability probe whose flags the test sets and whose changes it reports itself.
class FakeReachabilityProbe final : public ReachabilityProbe {
public:
    struct Shared {
        std::mutex mutex;
        std::optional<uint32_t> flags;
        Changed changed;
        // The callback as it was registered, kept past its removal so a test can call it late.
        Changed lastRegistered;
        bool refuse = false;
        std::vector<std::string> calls;
    };

    explicit FakeReachabilityProbe(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    std::optional<uint32_t> flags() override
    {
        std::lock_guard lock(shared_->mutex);
        return shared_->flags;
    }
    bool setCallback(Changed changed) override
    {
        std::lock_guard lock(shared_->mutex);
        shared_->calls.push_back("setCallback");
        if (shared_->refuse)
            return false;
        shared_->changed = changed;
        shared_->lastRegistered = std::move(changed);
        return true;
    }
    void removeCallback() override
    {
        std::lock_guard lock(shared_->mutex);
        shared_->calls.push_back("removeCallback");
        shared_->changed = nullptr;
    }

    // Sets the flags and reports them, as the platform does on a change; on the calling thread.
    static void change(Shared& shared, uint32_t flags)
    {
        Changed changed;
        {
            std::lock_guard lock(shared.mutex);
            shared.flags = flags;
            changed = shared.changed;
        }
        if (changed)
            changed(flags);
    }

private:
    std::shared_ptr<Shared> shared_;
};
