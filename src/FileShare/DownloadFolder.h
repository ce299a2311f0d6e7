#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class HttpDownloadedFile;

// The folder that files offered by the TV are stored in, and the names they get there. A name from
// the TV never reaches outside the folder, and a download never replaces a file already there.
class DownloadFolder {
public:
    // Longest stored name, in bytes: room for a " (n)" below the filesystem's 255.
    static constexpr size_t kMaxNameBytes = 200;
    // Numbered names tried before a download gives up.
    static constexpr int kMaxNumber = 9999;

    explicit DownloadFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& path() const { return folder_; }

    // The TV's name as one plain entry of a folder: '/', '\\', NUL and the other control characters
    // become '_', the name is cut at a UTF-8 boundary to kMaxNameBytes, and a name left empty, "." or
    // ".." becomes "file-<index>".
    static std::string safeName(std::string_view name, size_t index);
    // Gives the downloaded body the name (a safeName), or the first free "stem (n).ext" when it is
    // taken. The stored path, or nullopt (logged) when no name could be given; the body then stays
    // with `file`, which removes it.
    std::optional<std::filesystem::path> store(HttpDownloadedFile& file, const std::string& name) const;

private:
    static std::string numbered(const std::string& name, int number);

    std::filesystem::path folder_;
};
