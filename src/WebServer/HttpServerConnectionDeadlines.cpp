#include "WebServer/HttpServerConnectionDeadlines.h"

const char* HttpServerConnectionDeadlines::stalledReason(Clock::time_point idleLimit, Clock::time_point now) const
{
    const auto last = lastProgress_.load();
    if (last != kNotWatched && last < idleLimit.time_since_epoch().count())
        return "Idle time-out";
    const auto headDeadline = headDeadline_.load();
    if (headDeadline != kNotWatched && headDeadline <= now.time_since_epoch().count())
        return "Request head time-out";
    return nullptr;
}
