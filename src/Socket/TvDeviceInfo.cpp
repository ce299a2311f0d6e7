#include "Socket/TvDeviceInfo.h"

#include "Utils/Log.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kCodeFieldCharacters = 7;

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t amp = text.find('&');
        fields.push_back(text.substr(0, amp));
        if (amp == std::string_view::npos)
            return fields;
        text.remove_prefix(amp + 1);
    }
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t characterCount(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        count += isContinuationByte(c) ? 0 : 1;
    return count;
}

// The field without its first character (which may be several bytes long).
std::string withoutFirstCharacter(std::string_view field)
{
    size_t start = 1;
    while (start < field.size() && isContinuationByte(field[start]))
        ++start;
    return std::string(field.substr(std::min(start, field.size())));
}

std::string codeOf(std::string_view field)
{
    return characterCount(field) == kCodeFieldCharacters ? withoutFirstCharacter(field) : std::string();
}

} // namespace

TvDeviceInfo::TvDeviceInfo(std::string ip, std::string deviceName, std::string mac, std::string code, double timeStamp)
    : name(std::move(deviceName)),
      ipAddr(std::move(ip)),
      macAddr(std::move(mac)),
      screenCode(std::move(code)),
      refreshTimeStamp(timeStamp)
{
}

std::optional<TvDeviceInfo> TvDeviceInfo::fromDiscoveryText(std::string_view text, double now)
{
    const auto fields = splitFields(text);
    if (fields.size() < 3) {
        PLOG("discovery text without name and MAC address dropped: %.*s", static_cast<int>(text.size()), text.data());
        return std::nullopt;
    }
    return TvDeviceInfo(std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                        fields.size() > 3 ? codeOf(fields[3]) : std::string(), now);
}

std::string_view TvDeviceInfo::addressOf(std::string_view text)
{
    return text.substr(0, text.find('&'));
}

bool TvDeviceInfo::renew(std::string_view text, double now)
{
    const auto fields = splitFields(text);
    if (fields.size() < 2)
        return false;
    refreshTimeStamp = now;
    bool changed = false;
    if (name != fields[1]) {
        name = std::string(fields[1]);
        changed = true;
    }
    if (fields.size() > 3 && !fields[3].empty()) {
        std::string code = withoutFirstCharacter(fields[3]);
        if (code != screenCode) {
            screenCode = std::move(code);
            changed = true;
        }
    }
    return changed;
}
