#pragma once

#include "Socket/FindTvDevicesDelegate.h"
#include "Socket/TvDeviceInfo.h"
#include "Platform/MainQueueGuard.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TvDevicesNameDelegate;

// The list of TVs that discovery hears, in the order first heard: fed once a second on the discovery
// queue, aged there (a TV silent for more than 10 s leaves), and read and marked on the main thread by
// the session. The device list screen shows it through the reload handler.
//
// Threads: the FindTvDevicesDelegate calls come on the discovery queue; everything else on the main
// thread. The list is guarded by one mutex; the delegate and the reload handler are told on the main
// queue. Discovery is stopped before the list is destroyed (on the main thread).
class CheckDeviceViewController final : public FindTvDevicesDelegate {
public:
    // Seconds since 1970.
    using WallClock = std::function<double()>;
    static constexpr double kSilenceLimitSeconds = 10.0;

    static double systemClock();

    // releaseLink ends the TV link when the network is gone.
    CheckDeviceViewController(std::function<void()> releaseLink, WallClock clock = systemClock);
    ~CheckDeviceViewController() override;
    CheckDeviceViewController(const CheckDeviceViewController&) = delete;
    CheckDeviceViewController& operator=(const CheckDeviceViewController&) = delete;

    // Main thread. Not owned: it clears itself before it goes away.
    void setDelegate(TvDevicesNameDelegate* delegate) { delegate_ = delegate; }
    // Main thread: the list changed; the screen reads devices() again.
    void setReloadHandler(std::function<void()> reload) { reload_ = std::move(reload); }

    // FindTvDevicesDelegate, on the discovery queue.
    void findTvDevicesInfo(const std::string& text) override;
    void refreshTvDevicesList() override;
    void unreachableNetwork() override;

    // Main thread.
    size_t findDeviceCount() const;
    std::vector<TvDeviceInfo> devices() const;
    // The first TV with that address; nullopt for none (and without searching for no address).
    std::optional<TvDeviceInfo> getIPScreenProjection(const std::optional<std::string>& ip) const;
    // The first TV whose casting code is exactly this text.
    std::optional<TvDeviceInfo> getscreenCodeProjection(const std::string& code) const;
    // The link to that address came up: the TV is marked connected.
    void tvConnectSuccess(const std::optional<std::string>& ip);
    // The link to that address failed: the TV is marked for removal at the next tick, unless it
    // answers first.
    void tvConnectFail(const std::optional<std::string>& ip);
    // The link to that address ended.
    void tvDisConnect(const std::optional<std::string>& ip);

private:
    // Under mutex_: the first entry with that address, or nullptr.
    TvDeviceInfo* findLocked(const std::string& ip);
    const TvDeviceInfo* findLocked(const std::string& ip) const;
    // Main thread: marks the TV of that address, if any, and reloads the screen.
    void mark(const std::optional<std::string>& ip, const std::function<void(TvDeviceInfo&)>& change);
    void reload() const;

    const std::function<void()> releaseLink_;
    const WallClock clock_;
    TvDevicesNameDelegate* delegate_ = nullptr;
    std::function<void()> reload_;

    mutable std::mutex mutex_;
    std::vector<TvDeviceInfo> tvDeviceInfoMutableArray_;
    // The list changed since the screen last reloaded it.
    bool refreshFlag_ = false;

    MainQueueGuard mainQueue_;
};
