#include "FileShare/FileMessage.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <random>
#include <utility>

namespace {

using Category = std::pair<std::string_view, std::array<std::string_view, 6>>;

// Each extension belongs to one category at most.
constexpr std::array kCategories{
    Category{"image", {"jpg", "png", "bmp", "svg", "gif"}},
    Category{"video", {"mp4", "mov", "ts", "avi", "mkv", "flv"}},
    Category{"music", {"mp3", "wav", "wma", "aac"}},
    Category{"excel", {"xlsx", "xls"}},
    Category{"word", {"docx", "doc"}},
    Category{"ppt", {"pptx", "ppt"}},
    Category{"pdf", {"pdf"}},
    Category{"txt", {"txt"}},
    Category{"zip", {"zip", "xip"}},
};

bool continuesUtf8Character(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

FileMessage FileMessage::fromPath(const std::filesystem::path& path, const std::function<bool(std::string_view)>& inUse)
{
    FileMessage file;
    file.fileName = path.filename().string();
    file.fileType = fileTypeOf(file.fileName);
    file.showName = resetFileName(file.fileName);
    file.fileId = generateFileID(inUse);
    file.filePath = path;
    return file;
}

std::string FileMessage::generateFileID(const std::function<bool(std::string_view)>& inUse)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> below10000(0, 9999);
    for (;;) {
        const long seconds = static_cast<long>(std::time(nullptr) % 10000);
        std::string id = std::to_string(seconds) + std::to_string(below10000(random));
        if (!inUse || !inUse(id))
            return id;
    }
}

std::string FileMessage::resetFileName(std::string_view name)
{
    size_t characters = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (continuesUtf8Character(name[i]))
            continue;
        if (characters == kShowNameCharacters)
            return std::string(name.substr(0, i)) + "...";
        ++characters;
    }
    return std::string(name);
}

std::string FileMessage::fileTypeOf(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return "";
    std::string type(name.substr(dot + 1));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c); });
    return type;
}

std::string FileMessage::category(std::string_view fileType)
{
    for (const auto& [category, extensions] : kCategories) {
        if (!fileType.empty() && std::find(extensions.begin(), extensions.end(), fileType) != extensions.end())
            return std::string(category);
    }
    return "unknown";
}
