#include "FileShare/DownloadFolder.h"

#include "Platform/HttpDownload.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <cerrno>
#include <cstring>

std::string DownloadFolder::safeName(std::string_view name, size_t index)
{
    std::string safe(ByteReader::cutUtf8(name, kMaxNameBytes));
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    if (safe.empty() || safe == "." || safe == "..")
        return "file-" + std::to_string(index);
    return safe;
}

std::string DownloadFolder::numbered(const std::string& name, int number)
{
    const std::string suffix = " (" + std::to_string(number) + ")";
    const size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::optional<std::filesystem::path> DownloadFolder::store(HttpDownloadedFile& file, const std::string& name) const
{
    for (int number = 0; number <= kMaxNumber; ++number) {
        const auto target = folder_ / (number == 0 ? name : numbered(name, number));
        const auto error = file.place(target);
        if (!error)
            return target;
        if (!error->isPosix(EEXIST)) {
            PLOG("Failed to move %s: %s", name.c_str(), error->description.c_str());
            return std::nullopt;
        }
    }
    PLOG("Failed to move %s: every numbered name is taken", name.c_str());
    return std::nullopt;
}
