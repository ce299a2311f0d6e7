#pragma once

#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes fromHex(std::string_view hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

inline std::string toHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

// Reproducible test data (not key material).
inline Bytes patternBytes(size_t size, uint32_t seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(generator());
    return bytes;
}

inline Bytes readBytes(const std::filesystem::path& path)
{
    const std::string text = readFile(path);
    return {text.begin(), text.end()};
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes)
{
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// Runs the openssl command line with the given arguments; true when it exits with status 0.
inline bool openssl(std::vector<std::string> args)
{
    args.insert(args.begin(), "openssl");
    const auto outcome = Shell::run(args);
    return outcome && outcome->exitCode == 0;
}
