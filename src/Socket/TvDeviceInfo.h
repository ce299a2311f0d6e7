#pragma once

#include <optional>
#include <string>
#include <string_view>

// One TV found by discovery, as the device list keeps it.
struct TvDeviceInfo {
    bool state = false; // true while we are connected to this TV
    std::string name;
    std::string ipAddr;
    std::string macAddr;
    std::string screenCode; // empty when the TV gave no usable casting code
    double refreshTimeStamp = 0; // seconds since 1970 of the latest reply

    TvDeviceInfo() = default;
    // initWithIP:name:macAddr:screenCode:refreshTimeStamp:, not connected.
    TvDeviceInfo(std::string ip, std::string deviceName, std::string mac, std::string code, double timeStamp);

    // A new entry from discovery's text "ip&name&mac&Xcode" heard at `now`. The fields are split at
    // every "&"; the casting code is the fourth field without its first character, taken only when
    // that field is exactly 7 characters long. Refused (nullopt, logged) with fewer than three fields.
    static std::optional<TvDeviceInfo> fromDiscoveryText(std::string_view text, double now);
    // The address a discovery text comes from: its first field.
    static std::string_view addressOf(std::string_view text);
    // A later reply of this TV heard at `now`: renews the time stamp and takes the name, and the
    // casting code of a non-empty fourth field (without its first character, whatever its length).
    // True when the name or the code changed. A text with fewer than two fields changes nothing.
    bool renew(std::string_view text, double now);
};
