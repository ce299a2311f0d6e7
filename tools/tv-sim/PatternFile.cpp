#include "tv-sim/PatternFile.h"

#include "tv-sim/PayloadDigest.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

std::string PatternFile::write(const std::filesystem::path& path, uint64_t size, uint64_t seed)
{
    std::unique_ptr<FILE, decltype(&std::fclose)> out(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!out)
        return {};
    PayloadDigest digest;
    std::vector<uint64_t> slice(128 * 1024);
    uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (uint64_t left = size; left > 0;) {
        // xorshift64: cheap enough that the disk, not the pattern, sets the pace.
        for (auto& word : slice) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t length = static_cast<size_t>(std::min<uint64_t>(left, slice.size() * sizeof(uint64_t)));
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(slice.data()), length);
        if (std::fwrite(bytes.data(), 1, length, out.get()) != length)
            return {};
        digest.update(bytes);
        left -= length;
    }
    if (std::fflush(out.get()) != 0)
        return {};
    return digest.finishHex();
}
