#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

// Moves a file's bytes through three steps at once: reading the source, changing each slice in place
// (the cipher), writing it out. Reading and writing run on threads of their own for the copy, the
// change on the caller's, and slices pass between them along a short ring, so a copy goes at the pace
// of its slowest step instead of the sum of the three. kSlices x kSliceLength bytes are held at once.
class CopyPipeline {
public:
    static constexpr size_t kSliceLength = size_t{1} << 20;
    static constexpr size_t kSlices = 4;

    // Changes one slice in place; false when it failed.
    using Change = std::function<bool(std::span<uint8_t> slice)>;
    // Writes one slice whole; false with the reason when it failed.
    using Write = std::function<bool(std::span<const uint8_t> slice, std::string& reason)>;

    // Sends the bytes of descriptor `input`, from where it stands to its end, through `change` (none:
    // unchanged) and `write`, in order. nullopt when all went through; otherwise the first failure's
    // reason, and nothing more is written once a step has failed.
    static std::optional<std::string> run(int input, const Change& change, const Write& write);
};
