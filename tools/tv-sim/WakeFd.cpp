#include "tv-sim/WakeFd.h"

#include "Utils/Log.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        PLOG_ERRNO("eventfd");
}

WakeFd::~WakeFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void WakeFd::wake()
{
    const uint64_t one = 1;
    // A full counter already wakes the reader, so a failed write loses nothing.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void WakeFd::drain()
{
    uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(fd_, &count, sizeof count);
}
