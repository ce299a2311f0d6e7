// Feeds arbitrary datagrams through the discovery reply road (reply text, then the device record)
// and arbitrary text to the TV's sender list.
#include "Socket/DeviceMessage.h"
#include "Socket/DiscoveryReply.h"
#include "Socket/TvDeviceInfo.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    if (const auto text = DiscoveryReply::text(bytes))
        TvDeviceInfo::fromDiscoveryText("127.0.0.1&" + *text, 0.0);
    DeviceMessage::listFromJson(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
