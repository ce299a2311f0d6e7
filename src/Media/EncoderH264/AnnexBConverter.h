#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// Rewrites the encoder's length-prefixed NAL units (each behind a 4-byte big-endian length) into the
// Annex-B form the TV decodes, each NAL unit behind a 4-byte start code.
class AnnexBConverter {
public:
    static constexpr std::array<uint8_t, 4> kStartCode{0x00, 0x00, 0x00, 0x01};

    // Appends the start code and the NAL unit.
    static void appendNalUnit(std::span<const uint8_t> nalUnit, std::vector<uint8_t>& out);

    // Calls visit with each non-empty NAL unit of data, in order. A length that runs past the end of
    // data, or a cut-off length field, stops the walk with a log line and returns false; the NAL units
    // before it have been visited.
    static bool forEachNalUnit(std::span<const uint8_t> data,
                               const std::function<void(std::span<const uint8_t>)>& visit);

    // forEachNalUnit that appends every NAL unit to out with appendNalUnit.
    static bool appendLengthPrefixed(std::span<const uint8_t> data, std::vector<uint8_t>& out);
};
