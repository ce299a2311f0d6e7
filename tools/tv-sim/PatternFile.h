#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Files of pseudo-random bytes for tests and benchmarks of file transfers: made quickly, in slices, at
// any size, with the SHA-256 that a receiver must find.
class PatternFile {
public:
    // Writes `size` bytes drawn from `seed` to the path (replacing it); returns their lower-case hex
    // SHA-256, empty when the file could not be written.
    static std::string write(const std::filesystem::path& path, uint64_t size, uint64_t seed);
};
