#include "Session/DiscoveryDriver.h"

#include <cassert>
#include <utility>

DiscoveryDriver::DiscoveryDriver(FindTvDevices::Options options, FindTvDevicesDelegate& delegate,
                                 std::function<void()> afterTick)
    : queue_(FixedWidthQueue::create("findDevicesSerialQueue", 1)),
      findTvDevices_(std::move(options)),
      afterTick_(std::move(afterTick)),
      timer_(queue_, [this] { tick(); })
{
    findTvDevices_.setDelegate(&delegate);
}

DiscoveryDriver::~DiscoveryDriver()
{
    timer_.cancel();
    // Every tick queued before the cancel has run once this returns; none comes after.
    queue_->sync([] {});
}

void DiscoveryDriver::start()
{
    timer_.start(kInterval, kInterval);
}

void DiscoveryDriver::findDevice()
{
    // findDevicesSerialQueue.
    queue_->async([this] { tick(); });
}

void DiscoveryDriver::tick()
{
    assert(queue_->isCurrent());
    findTvDevices_.getNIC();
    findTvDevices_.udpFindDevice();
    findTvDevices_.closeNIC();
    if (afterTick_)
        afterTick_();
}
