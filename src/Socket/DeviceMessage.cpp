#include "Socket/DeviceMessage.h"

#include "Utils/Log.h"

#include <cmath>
#include <limits>
#include <type_traits>
#include <variant>

namespace {

using Property = std::variant<std::string DeviceMessage::*, bool DeviceMessage::*, int64_t DeviceMessage::*>;

struct Entry {
    const char* key;
    Property property;
};

const Entry kProperties[] = {
    {"ip", &DeviceMessage::ip},
    {"name", &DeviceMessage::name},
    {"client", &DeviceMessage::client},
    {"clientMode", &DeviceMessage::clientMode},
    {"slide", &DeviceMessage::slide},
    {"slideType", &DeviceMessage::slideType},
    {"checking", &DeviceMessage::checking},
    {"isWirlessTalk", &DeviceMessage::isWirlessTalk},
    {"isLock", &DeviceMessage::isLock},
    {"speaker", &DeviceMessage::speaker},
    {"isShare", &DeviceMessage::isShare},
    {"isReverseMirroring", &DeviceMessage::isReverseMirroring},
    {"isStop", &DeviceMessage::isStop},
    {"isVisible", &DeviceMessage::isVisible},
    {"canShare", &DeviceMessage::canShare},
    {"isAesEnable", &DeviceMessage::isAesEnable},
    {"AesKey", &DeviceMessage::AesKey},
    {"isPortrait", &DeviceMessage::isPortrait},
};

std::optional<std::string> asString(const nlohmann::json& value)
{
    if (!value.is_string())
        return std::nullopt;
    return value.get<std::string>();
}

std::optional<bool> asFlag(const nlohmann::json& value)
{
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_number_integer())
        return value.get<int64_t>() != 0;
    if (value.is_number_float())
        return value.get<double>() != 0.0;
    return std::nullopt;
}

std::optional<int64_t> asInteger(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<int64_t>(number);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    if (value.is_number_float()) {
        // 2^63 itself is out of range; every double below it converts exactly.
        const double number = value.get<double>();
        if (number != std::trunc(number) || number < -0x1p63 || number >= 0x1p63)
            return std::nullopt;
        return static_cast<int64_t>(number);
    }
    return std::nullopt;
}

template <class T>
void store(DeviceMessage& message, T DeviceMessage::*property, std::optional<T> value, const char* key)
{
    if (value)
        message.*property = std::move(*value);
    else
        PLOG("sender list: value of \"%s\" has the wrong type, ignored", key);
}

} // namespace

DeviceMessage::DeviceMessage(const nlohmann::json& dictionary)
{
    if (!dictionary.is_object())
        return;
    for (const Entry& entry : kProperties) {
        const char* key = entry.key;
        const auto value = dictionary.find(key);
        if (value == dictionary.end() || value->is_null())
            continue;
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, std::string>)
                    store(*this, member, asString(*value), key);
                else if constexpr (std::is_same_v<T, bool>)
                    store(*this, member, asFlag(*value), key);
                else
                    store(*this, member, asInteger(*value), key);
            },
            entry.property);
    }
}

std::optional<std::vector<DeviceMessage>> DeviceMessage::listFromJson(std::string_view text, size_t* entries)
{
    // Objects of the top-level array past the cap are counted and dropped as the parser finishes
    // each, so the tree never holds more than the cap.
    size_t objects = 0;
    const nlohmann::json::parser_callback_t keepFirst = [&objects](int depth, nlohmann::json::parse_event_t event,
                                                                    nlohmann::json&) {
        if (depth != 1 || event != nlohmann::json::parse_event_t::object_end)
            return true;
        return ++objects <= kMaxSenders;
    };
    const auto json = nlohmann::json::parse(text, keepFirst, false);
    if (!json.is_array()) {
        PLOG("sender list is not a JSON array");
        return std::nullopt;
    }
    std::vector<DeviceMessage> senders;
    for (const auto& entry : json) {
        if (entry.is_object())
            senders.emplace_back(entry);
    }
    if (entries)
        *entries = objects;
    return senders;
}
