#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// One sender connected to the same TV, as the TV lists it in kMsgClientList.
struct DeviceMessage {
    std::string ip;
    std::string name;
    int64_t client = 0; // the TV's id of the sender, used in the per-sender control payloads
    std::string clientMode;
    bool slide = false;
    int64_t slideType = 0;
    bool checking = false;
    bool isWirlessTalk = false;
    bool isLock = false;
    bool speaker = false;
    bool isShare = false;
    bool isReverseMirroring = false;
    bool isStop = false;
    bool isVisible = false;
    int64_t canShare = 0;
    bool isAesEnable = false;
    std::string AesKey;
    bool isPortrait = false;

    DeviceMessage() = default;
    // initWithDictionary: every member of the object whose key names a property and whose value
    // fits it is stored: a string property takes a JSON string; a flag takes a boolean or a number
    // (non-zero is true); an integer property takes an integer that fits in signed 64 bits, or a
    // floating-point number with no fraction in that range. Any other value (null included) leaves
    // the property as it was; unknown keys are ignored.
    explicit DeviceMessage(const nlohmann::json& dictionary);

    bool operator==(const DeviceMessage&) const = default;

    // Senders kept from one list, at most: more than any room holds. The parse never holds more
    // (later entries are dropped as they are read), so a list of any length costs little.
    static constexpr size_t kMaxSenders = 256;

    // The first kMaxSenders senders of a kMsgClientList text, in the TV's order; entries that are not
    // objects are skipped. Nullopt when the text is not a JSON array. `entries`, when given, gets the
    // number of objects the list held, those past the cap included.
    static std::optional<std::vector<DeviceMessage>> listFromJson(std::string_view text, size_t* entries = nullptr);
};
