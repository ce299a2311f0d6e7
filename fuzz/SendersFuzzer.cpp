// Feeds arbitrary text to the TV's senders list (the first byte picks the road) and arbitrary bytes to
// its capability reports. Besides memory errors it checks that no list keeps more than its cap and
// that the count of entries covers what was kept.
#include "Socket/CapabilityFlagPayload.h"
#include "Socket/DeviceMessage.h"
#include "Socket/Int32Payload.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::span<const uint8_t> payload(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        size_t entries = 0;
        if (const auto senders = DeviceMessage::listFromJson(text, &entries)) {
            require(senders->size() <= DeviceMessage::kMaxSenders);
            require(senders->size() <= entries);
        }
        break;
    }
    case 1: {
        // One sender's record from any JSON value.
        const auto json = nlohmann::json::parse(text, nullptr, false);
        if (!json.is_discarded())
            DeviceMessage message(json);
        break;
    }
    default:
        CapabilityFlagPayload::decode(payload);
        Int32Payload::decode(payload);
        break;
    }
    return 0;
}
