#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// A TV's answer to the discovery request: 0x24 0x11, one ignored byte, then the UTF-8 text
// "name&mac&" + one character + casting code, up to the first NUL or the end of the datagram.
class DiscoveryReply {
public:
    static constexpr size_t kMaxSize = 1024;

    // The reply's text, cut at a NUL, the datagram's end and a whole UTF-8 character; nullopt for a
    // datagram that is not a reply (such as another sender's request, 0x24 0x10).
    static std::optional<std::string> text(std::span<const uint8_t> datagram);
};
