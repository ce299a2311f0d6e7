#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The payloads of the TV's messages, for TvSim::send(type, payload).
class TvMessages {
public:
    // UTF-8 text without a terminator (kMsgScreenCode, kMsgClientList, kMsgFileShareOffer).
    static std::vector<uint8_t> text(const std::string& text);
    // Int32Payload, big-endian (kMsgTvVersion, kMsgSpeakerStatus, kMsgActiveVersion, ...).
    static std::vector<uint8_t> int32(int32_t value);
    // TouchPayload {x, y, 0, fourth}, little-endian as the TV sends it (a non-zero fourth word is
    // dropped by the client).
    static std::vector<uint8_t> touch(int32_t x, int32_t y, int32_t fourth = 0);
    // VideoQualityPayload {0, width, height, level, fps}, little-endian.
    static std::vector<uint8_t> videoQuality(int32_t width, int32_t height, int32_t level, int32_t fps);
    // kMsgTvScreenResolution {width, height}, big-endian.
    static std::vector<uint8_t> screenResolution(int32_t width, int32_t height);
    // kMsgKeyCode: the key code little-endian.
    static std::vector<uint8_t> keyCode(int32_t code);
    // CapabilityFlagPayload (kMsgRoziEnable, kMsgQualityChangeSupport): a big-endian word whose low
    // byte is the flag. Send an empty payload for the "absent means on" case.
    static std::vector<uint8_t> capability(uint8_t flag);
};
