#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// A touch (down, move, up, or an annotation stroke): four signed 32-bit words. Sent big-endian,
// in the units of the size last announced to the TV; received little-endian, in pixels of the
// cast video. The two directions differ in byte order, so encode() and decode() are not inverses.
struct TouchPayload {
    int32_t x = 0;
    int32_t y = 0;
    int32_t third = 0;  // 0 when sent
    int32_t fourth = 0; // 0 when sent; a received touch with a non-zero fourth word is dropped

    // Big-endian.
    std::vector<uint8_t> encode() const;
    // Little-endian: the TV's side.
    std::vector<uint8_t> encodeLittleEndian() const;
    // Little-endian; refuses a payload shorter than 16 bytes.
    static std::optional<TouchPayload> decode(std::span<const uint8_t> payload);
};
