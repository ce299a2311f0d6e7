#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

// Moves a file's bytes through three steps at once: reading the source, changing them (the cipher)
// into the output, writing the output. Reading and writing run on threads of their own for the copy,
// the change on the caller's, and slices pass between them along short rings, so a copy goes at the
// pace of its slowest step instead of the sum of the three. The output is a prefix (the IV) followed
// by the changed bytes, written in whole slices from its start: every read and every write the kernel
// copies lies on page boundaries at both ends, which some processors copy at three times the speed of
// a misaligned one. kSlices x kSliceLength bytes are held at once for reading and as many for writing.
class CopyPipeline {
public:
    static constexpr size_t kSliceLength = size_t{512} << 10;
    static constexpr size_t kSlices = 8;
    static constexpr size_t kMaxPrefix = 4096;

    // Writes the change of `in` to `out`, of the same size and never overlapping it; false when it
    // failed. Called with the stream's pieces in order.
    using Change = std::function<bool(std::span<const uint8_t> in, std::span<uint8_t> out)>;
    // Writes one piece whole; false with the reason when it failed.
    using Write = std::function<bool(std::span<const uint8_t> piece, std::string& reason)>;
    // Told, on the writing thread after each piece written, how many of the input's bytes are written
    // (the prefix not counted). It must return soon: the writing waits for it.
    using Progress = std::function<void(uint64_t written)>;

    // Writes `prefix` (at most kMaxPrefix bytes), then the bytes of descriptor `input` from where it
    // stands to its end, through `change` (none: unchanged). nullopt when all went through; otherwise
    // the first failure's reason, and nothing more is written once a step has failed.
    static std::optional<std::string> run(int input, std::span<const uint8_t> prefix, const Change& change,
                                          const Write& write, const Progress& progress = {});
};
