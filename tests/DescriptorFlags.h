#pragma once

// The process's own descriptors, read from /proc: whether the file a descriptor is open on would
// stay open in a child that a fork and exec make.

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace DescriptorFlags {

// For the first descriptor open on a path that holds `part`: true when it closes on exec; nullopt
// when no descriptor is open on such a path.
inline std::optional<bool> closesOnExec(const std::string& part)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (error || target.string().find(part) == std::string::npos)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            if (line.starts_with("flags:"))
                return (std::stoul(line.substr(6), nullptr, 8) & O_CLOEXEC) != 0;
        }
    }
    return std::nullopt;
}

} // namespace DescriptorFlags
