#include "WebServer/HttpServerConnectionDeadlines.h"

void HttpServerConnectionDeadlines::watchRate()
{
    windowBytes_ = 0;
    windowStart_ = Clock::now().time_since_epoch().count();
    noteProgress();
}

const char* HttpServerConnectionDeadlines::stalledReason(const Limits& limits, Clock::time_point now)
{
    const Clock::rep at = now.time_since_epoch().count();
    const auto last = lastProgress_.load();
    if (last != kNotWatched && last < at - limits.idle.count())
        return "Idle time-out";
    const auto headDeadline = headDeadline_.load();
    if (headDeadline != kNotWatched && headDeadline <= at)
        return "Request head time-out";
    const auto closeDeadline = closeDeadline_.load();
    if (closeDeadline != kNotWatched && closeDeadline <= at)
        return "Lingering close time-out";
    const auto start = windowStart_.load();
    if (limits.minimumRate == 0 || start == kNotWatched || at - start < limits.rateWindow.count())
        return nullptr;
    const auto seconds = std::chrono::duration<double>(Clock::duration(at - start)).count();
    if (static_cast<double>(windowBytes_.load()) < static_cast<double>(limits.minimumRate) * seconds)
        return "Transfer below the minimum rate";
    // Met: the next window starts now. A pause or a new phase meanwhile restarted it already.
    Clock::rep expected = start;
    if (windowStart_.compare_exchange_strong(expected, at))
        windowBytes_ = 0;
    return nullptr;
}
