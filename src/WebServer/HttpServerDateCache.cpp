#include "WebServer/HttpServerDateCache.h"

#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <string>

namespace {

using Format = std::string (*)(int64_t);

// A power of two, so the slot is the low bits of the second.
constexpr size_t kSlots = 64;

struct Slot {
    bool filled = false;
    int64_t seconds = 0;
    HttpServerDateCache::Text text;
};
using Table = std::array<Slot, kSlots>;

HttpServerDateCache::Text lookUp(Table& table, int64_t seconds, Format format)
{
    Slot& slot = table[static_cast<uint64_t>(seconds) % kSlots];
    if (!slot.filled || slot.seconds != seconds)
        slot = {true, seconds, HttpServerDateCache::Text(format(seconds))};
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
