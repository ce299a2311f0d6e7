#include "Platform/DescriptorLimit.h"

#include "Utils/Log.h"

#include <sys/resource.h>

std::optional<uint64_t> DescriptorLimit::raiseToHardLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        PLOG_ERRNO("the descriptor limit cannot be read");
        return std::nullopt;
    }
    if (limit.rlim_cur == limit.rlim_max)
        return limit.rlim_cur;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        PLOG_ERRNO("the descriptor limit stays at %llu", static_cast<unsigned long long>(before));
        return before;
    }
    PLOG("descriptor limit raised from %llu to %llu", static_cast<unsigned long long>(before),
         static_cast<unsigned long long>(limit.rlim_cur));
    return limit.rlim_cur;
}
