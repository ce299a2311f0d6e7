#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One signed 32-bit integer, big-endian: the payload of many messages. A shorter payload is read
// into a zeroed word from its first byte on, so 00 05 reads 0x00050000, as peers expect.
struct Int32Payload {
    int32_t value = 0;

    std::vector<uint8_t> encode() const;
    static Int32Payload decode(std::span<const uint8_t> payload);

    // The integers that travel in our own little-endian order: kMsgPresentationState out,
    // the key code of kMsgKeyCode in. Shorter payloads are zero-extended the same way.
    std::vector<uint8_t> encodeLittleEndian() const;
    static Int32Payload decodeLittleEndian(std::span<const uint8_t> payload);
};
