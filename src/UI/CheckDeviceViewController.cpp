#include "UI/CheckDeviceViewController.h"

#include "UI/TvDevicesNameDelegate.h"
#include "Utils/Log.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// The first entry of the list (const or not) with that address, or nullptr.
template <typename List>
auto* firstWithAddress(List& list, const std::string& ip)
{
    const auto found = std::ranges::find(list, ip, &TvDeviceInfo::ipAddr);
    return found != list.end() ? &*found : nullptr;
}

} // namespace

double CheckDeviceViewController::systemClock()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

CheckDeviceViewController::CheckDeviceViewController(std::function<void()> releaseLink, WallClock clock)
    : releaseLink_(std::move(releaseLink)), clock_(std::move(clock))
{
}

CheckDeviceViewController::~CheckDeviceViewController() = default;

// Discovery queue.
void CheckDeviceViewController::findTvDevicesInfo(const std::string& text)
{
    const double now = clock_();
    std::lock_guard lock(mutex_);
    if (TvDeviceInfo* known = findLocked(std::string(TvDeviceInfo::addressOf(text)))) {
        if (known->renew(text, now))
            refreshFlag_ = true;
        return;
    }
    if (auto tv = TvDeviceInfo::fromDiscoveryText(text, now)) {
        tvDeviceInfoMutableArray_.push_back(std::move(*tv));
        refreshFlag_ = true;
    }
}

// Discovery queue.
void CheckDeviceViewController::refreshTvDevicesList()
{
    const double now = clock_();
    {
        std::lock_guard lock(mutex_);
        const size_t before = tvDeviceInfoMutableArray_.size();
        std::erase_if(tvDeviceInfoMutableArray_,
                      [now](const TvDeviceInfo& tv) { return now - tv.refreshTimeStamp > kSilenceLimitSeconds; });
        if (tvDeviceInfoMutableArray_.size() != before)
            refreshFlag_ = true;
    }
    mainQueue_.post([this] {
        if (delegate_)
            delegate_->refreshTvDevicesName();
        {
            // An empty list keeps the flag: the window shows its no-device page instead, and the
            // list reloads once a TV is heard again.
            std::lock_guard lock(mutex_);
            if (!refreshFlag_ || tvDeviceInfoMutableArray_.empty())
                return;
            refreshFlag_ = false;
        }
        reload();
    });
}

// Discovery never reports it; kept for a network watcher.
void CheckDeviceViewController::unreachableNetwork()
{
    mainQueue_.post([this] {
        if (releaseLink_)
            releaseLink_();
        {
            std::lock_guard lock(mutex_);
            tvDeviceInfoMutableArray_.clear();
        }
        reload();
    });
}

size_t CheckDeviceViewController::findDeviceCount() const
{
    std::lock_guard lock(mutex_);
    return tvDeviceInfoMutableArray_.size();
}

std::vector<TvDeviceInfo> CheckDeviceViewController::devices() const
{
    std::lock_guard lock(mutex_);
    return tvDeviceInfoMutableArray_;
}

std::optional<TvDeviceInfo> CheckDeviceViewController::getIPScreenProjection(const std::optional<std::string>& ip) const
{
    if (!ip)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    const TvDeviceInfo* tv = findLocked(*ip);
    return tv ? std::optional(*tv) : std::nullopt;
}

std::optional<TvDeviceInfo> CheckDeviceViewController::getscreenCodeProjection(const std::string& code) const
{
    std::lock_guard lock(mutex_);
    const auto found = std::ranges::find(tvDeviceInfoMutableArray_, code, &TvDeviceInfo::screenCode);
    return found != tvDeviceInfoMutableArray_.end() ? std::optional(*found) : std::nullopt;
}

void CheckDeviceViewController::tvConnectSuccess(const std::optional<std::string>& ip)
{
    if (!ip)
        return;
    mark(ip, [](TvDeviceInfo& tv) { tv.state = true; });
}

void CheckDeviceViewController::tvConnectFail(const std::optional<std::string>& ip)
{
    mark(ip, [](TvDeviceInfo& tv) {
        tv.state = false;
        // Older than any limit: the next tick removes it unless a reply renews it first.
        tv.refreshTimeStamp = -1.0;
    });
}

void CheckDeviceViewController::tvDisConnect(const std::optional<std::string>& ip)
{
    mark(ip, [](TvDeviceInfo& tv) { tv.state = false; });
}

void CheckDeviceViewController::mark(const std::optional<std::string>& ip,
                                     const std::function<void(TvDeviceInfo&)>& change)
{
    if (ip) {
        std::lock_guard lock(mutex_);
        TvDeviceInfo* tv = findLocked(*ip);
        if (!tv)
            return;
        change(*tv);
    }
    reload();
}

void CheckDeviceViewController::reload() const
{
    if (reload_)
        reload_();
}

TvDeviceInfo* CheckDeviceViewController::findLocked(const std::string& ip)
{
    return firstWithAddress(tvDeviceInfoMutableArray_, ip);
}

const TvDeviceInfo* CheckDeviceViewController::findLocked(const std::string& ip) const
{
    return firstWithAddress(tvDeviceInfoMutableArray_, ip);
}
