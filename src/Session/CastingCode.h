#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The TV's six-character casting code, which also carries the last three octets of the TV's IPv4
// address: the first character is a key, the next four give five bits each and the last four bits,
// each the character's distance from the key in the 36-character code table.
class CastingCode {
public:
    static constexpr size_t kLength = 6;
    // The code table: a character's value is its position here, letters taken in upper case.
    static constexpr std::string_view kCodeTable = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

    // Exactly six characters of [0-9A-Za-z].
    static bool isCastingCode(std::string_view text);
    // "<ipHead>.<a>.<b>.<c>", the three octets decoded from the code; nullopt when the text is not a
    // casting code.
    static std::optional<std::string> decodeIpFromCode(std::string_view code, std::string_view ipHead);
    // The low `length` bits of value in binary, most significant first, padded with "0".
    static std::string toBinaryString(uint64_t value, uint64_t length);
    // The digits of an address before its first dot: the octet a decoded code takes from a local
    // interface.
    static std::string_view firstOctet(std::string_view address);
    // The code as typed matches the TV's: the same characters, letters in either case. No code from
    // the TV matches nothing.
    static bool matches(const std::optional<std::string>& tvCode, std::string_view typed);
};
