#include "Session/CastingCode.h"

#include <algorithm>
#include <cassert>
#include <cctype>

namespace {

constexpr uint64_t kModulus = CastingCode::kCodeTable.size();
constexpr uint64_t kGroupBits = 5;
constexpr uint64_t kLastGroupBits = 4;
constexpr size_t kOctetBits = 8;

// Plain ASCII, whatever the locale says of other bytes.
bool isCodeCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

uint64_t valueOf(char c)
{
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    const size_t position = CastingCode::kCodeTable.find(upper);
    assert(position != std::string_view::npos);
    return position;
}

uint64_t octetOf(std::string_view bits)
{
    uint64_t octet = 0;
    for (char bit : bits)
        octet = octet * 2 + (bit == '1' ? 1 : 0);
    return octet;
}

} // namespace

bool CastingCode::isCastingCode(std::string_view text)
{
    if (text.size() != kLength)
        return false;
    for (char c : text) {
        if (!isCodeCharacter(c))
            return false;
    }
    return true;
}

std::optional<std::string> CastingCode::decodeIpFromCode(std::string_view code, std::string_view ipHead)
{
    if (!isCastingCode(code))
        return std::nullopt;
    const uint64_t key = valueOf(code.front());
    std::string bits;
    for (size_t i = 1; i < kLength; ++i) {
        const uint64_t distance = (kModulus + valueOf(code[i]) - key) % kModulus;
        bits += toBinaryString(distance, i + 1 < kLength ? kGroupBits : kLastGroupBits);
    }
    std::string address(ipHead);
    for (size_t offset = 0; offset + kOctetBits <= bits.size(); offset += kOctetBits)
        address += "." + std::to_string(octetOf(std::string_view(bits).substr(offset, kOctetBits)));
    return address;
}

std::string CastingCode::toBinaryString(uint64_t value, uint64_t length)
{
    std::string bits;
    for (; value != 0; value >>= 1)
        bits.insert(bits.begin(), (value & 1) ? '1' : '0');
    if (bits.size() < length)
        bits.insert(0, length - bits.size(), '0');
    else
        bits.erase(0, bits.size() - length);
    return bits;
}

std::string_view CastingCode::firstOctet(std::string_view address)
{
    return address.substr(0, address.find('.'));
}

bool CastingCode::matches(const std::optional<std::string>& tvCode, std::string_view typed)
{
    auto upper = [](unsigned char c) { return std::toupper(c); };
    return tvCode && std::equal(tvCode->begin(), tvCode->end(), typed.begin(), typed.end(),
                                [&](char a, char b) { return upper(a) == upper(b); });
}
