#pragma once

#include "Platform/DispatchTimer.h"
#include "Platform/FixedWidthQueue.h"
#include "Socket/FindTvDevices.h"

#include <chrono>
#include <functional>
#include <memory>

class FindTvDevicesDelegate;

// Runs discovery: one tick (open the sockets, one pass, close them) once a second, every tick on the
// queue "findDevicesSerialQueue", one thread of its own (a pass blocks for half a second or more per
// socket), so an extra tick asked for by findDevice never overlaps a timed one. The delegate hears each pass on that queue; afterTick runs there once each tick is over.
class DiscoveryDriver {
public:
    static constexpr std::chrono::seconds kInterval{1};

    // Main thread. The delegate must outlive the driver. Ticks start with start().
    DiscoveryDriver(FindTvDevices::Options options, FindTvDevicesDelegate& delegate, std::function<void()> afterTick);
    // Main thread: stops the timer and waits for a tick under way.
    ~DiscoveryDriver();
    DiscoveryDriver(const DiscoveryDriver&) = delete;
    DiscoveryDriver& operator=(const DiscoveryDriver&) = delete;

    // The first timed tick comes one interval from now. Any thread.
    void start();
    // One tick at once, queued behind a tick under way. Any thread.
    void findDevice();

private:
    // findDevicesSerialQueue.
    void tick();

    const std::shared_ptr<FixedWidthQueue> queue_;
    FindTvDevices findTvDevices_;
    const std::function<void()> afterTick_;
    DispatchTimer timer_;
};
