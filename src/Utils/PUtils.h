#pragma once

#include <netinet/in.h>

#include <chrono>
#include <filesystem>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// Small stateless helpers used across the system. All are safe from any thread except
// logRedirect, which swaps the process's standard output and runs on the main thread. The display
// test is X11DisplayList::checkVirtualDisplay, since this leaf library cannot reach X11.
class PUtils {
public:
    // Any top-level JSON value of the text; nullopt for empty or invalid text.
    static std::optional<nlohmann::json> convertJsonString2Dict(std::string_view text);
    // Pretty-printed JSON text; nullopt when the value cannot be written (a string that is not UTF-8).
    static std::optional<std::string> convertDict2JsonString(const nlohmann::json& value);

    // Store the value big-endian at dst[offset...]. False, with nothing written, when the offset is
    // negative or the bytes do not fit.
    static bool intToBytes(int32_t value, std::span<uint8_t> dst, int32_t offset);
    static bool longToBytes(int64_t value, std::span<uint8_t> dst, int32_t offset);

    // Local date and time as "yyyy-MM-dd HH:mm:ss".
    static std::string getCurrentTime();
    static std::string getCurrentTime(std::chrono::system_clock::time_point when);

    // length bytes from the system's cryptographically secure source; nullopt when it fails.
    static std::optional<std::vector<uint8_t>> genRandomWithByteLen(size_t length);

    // The first IPv4 address of this host's interfaces, a non-loopback one when there is one.
    static std::optional<std::string> getIPAddress();

    // On: appends standard output (so every log line) to the log file (logFilePath, made with its
    // folder when absent) and writes the open line. Off: writes the close line and points standard
    // output at /dev/null. Main thread only (asserted: the process's first thread).
    static void logRedirect(bool on);
    // The file the log switch writes to: "pelkor.log" in the program's state folder
    // ($XDG_STATE_HOME/pelkor, default ~/.local/state/pelkor); nullopt without a home folder.
    static std::optional<std::filesystem::path> logFilePath();

    // True when the whole text is four dot-separated decimal octets 0-255 of one to three digits
    // each (leading zeros allowed, no blanks).
    static bool isValidIPAddress(std::string_view text);
    // The address of a text that isValidIPAddress accepts, each octet read as decimal ("010" is 10).
    static std::optional<in_addr> parseIPv4(std::string_view text);
};
