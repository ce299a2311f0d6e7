#include "WebServer/HttpServerDateCache.h"

#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>

namespace {

using Date = HttpServerFunctions::Date;
using Format = std::string (*)(Date);

// A power of two, so the slot is the low bits of the second.
constexpr size_t kSlots = 64;

struct Slot {
    bool filled = false;
    int64_t seconds = 0;
    HttpServerDateCache::Text text;
};
using Table = std::array<Slot, kSlots>;

// The clock counts in nanoseconds, so seconds past about ±292 years from the epoch would overflow it.
Date dateOf(int64_t seconds)
{
    using namespace std::chrono;
    constexpr int64_t kLimit = duration_cast<std::chrono::seconds>(Date::duration::max()).count();
    return Date(duration_cast<Date::duration>(std::chrono::seconds(std::clamp(seconds, -kLimit, kLimit))));
}

HttpServerDateCache::Text lookUp(Table& table, int64_t seconds, Format format)
{
    Slot& slot = table[static_cast<uint64_t>(seconds) % kSlots];
    if (!slot.filled || slot.seconds != seconds)
        slot = {true, seconds, HttpServerDateCache::Text(format(dateOf(seconds)))};
    return slot.text;
}

}  // namespace

HttpServerDateCache::Text::Text(std::string_view text) : size_(static_cast<uint8_t>(std::min(text.size(), bytes_.size())))
{
    std::copy_n(text.begin(), size_, bytes_.begin());
}

HttpServerDateCache::Text HttpServerDateCache::rfc822(int64_t seconds)
{
    thread_local Table table;
    return lookUp(table, seconds, &HttpServerFunctions::formatRFC822Date);
}

HttpServerDateCache::Text HttpServerDateCache::iso8601(int64_t seconds)
{
    thread_local Table table;
    return lookUp(table, seconds, &HttpServerFunctions::formatISO8601Date);
}
