#include "Utils/FileManager.h"

#include "Utils/Log.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppName = "pelkor";

// An absolute path from the environment; unset, empty or relative values count as missing,
// as the XDG base-directory rules say.
std::optional<fs::path> absoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value || value[0] != '/')
        return std::nullopt;
    return fs::path(value);
}

std::optional<fs::path> homeFolder()
{
    if (auto home = absoluteEnv("HOME"))
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir
        || found->pw_dir[0] != '/') {
        PLOG("no home folder for uid %u", static_cast<unsigned>(getuid()));
        return std::nullopt;
    }
    return fs::path(found->pw_dir);
}

// The folder a user-dirs.dirs line gives for key: `KEY="$HOME/sub"` or `KEY="/absolute"`, with
// backslash escapes inside the quotes. Any other form is not a folder.
std::optional<fs::path> userDirFromLine(std::string_view line, std::string_view key, const fs::path& home)
{
    auto skipBlanks = [&line] {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
    };
    skipBlanks();
    if (!line.starts_with(key))
        return std::nullopt;
    line.remove_prefix(key.size());
    skipBlanks();
    if (!line.starts_with('='))
        return std::nullopt;
    line.remove_prefix(1);
    skipBlanks();
    if (!line.starts_with('"'))
        return std::nullopt;
    line.remove_prefix(1);

    std::string text;
    constexpr std::string_view kHome = "$HOME";
    if (line.starts_with(kHome)) {
        line.remove_prefix(kHome.size());
        text = home.string();
        if (!line.starts_with('/') && !line.starts_with('"'))
            return std::nullopt;
    } else if (!line.starts_with('/')) {
        return std::nullopt;
    }
    while (!line.empty() && line.front() != '"') {
        if (line.front() == '\\' && line.size() > 1)
            line.remove_prefix(1);
        text += line.front();
        line.remove_prefix(1);
    }
    if (line.empty())
        return std::nullopt;
    return fs::path(text);
}

std::optional<fs::path> downloadsFromUserDirs(const fs::path& home)
{
    const fs::path config = absoluteEnv("XDG_CONFIG_HOME").value_or(home / ".config");
    std::ifstream file(config / "user-dirs.dirs");
    std::string line;
    while (std::getline(file, line)) {
        if (auto folder = userDirFromLine(line, "XDG_DOWNLOAD_DIR", home))
            return folder;
    }
    return std::nullopt;
}

// The application's folder under the XDG base folder that variable names, else under its default
// inside the home folder.
std::optional<fs::path> xdgAppFolder(const char* variable, const char* defaultInHome)
{
    if (auto base = absoluteEnv(variable))
        return *base / kAppName;
    const auto home = homeFolder();
    if (!home)
        return std::nullopt;
    return *home / defaultInHome / kAppName;
}

// The path made with missing parents; the path when it exists as a folder afterwards.
std::optional<fs::path> ensureFolder(const fs::path& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (!fs::is_directory(path, error)) {
        PLOG("cannot make folder %s: %s", path.c_str(), error ? error.message().c_str() : "not a folder");
        return std::nullopt;
    }
    return path;
}

// The folder's entries, collected before anyone changes the folder.
std::optional<std::vector<fs::path>> listFolder(const fs::path& folder)
{
    std::error_code error;
    fs::directory_iterator it(folder, error);
    std::vector<fs::path> entries;
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        entries.push_back(it->path());
    if (error) {
        PLOG("cannot read folder %s: %s", folder.c_str(), error.message().c_str());
        return std::nullopt;
    }
    return entries;
}

std::optional<fs::path> subfolder(const std::optional<fs::path>& base, std::string_view name)
{
    if (!base)
        return std::nullopt;
    return ensureFolder(*base / name);
}

} // namespace

std::optional<fs::path> FileManager::downloadsFolder()
{
    if (auto folder = absoluteEnv("XDG_DOWNLOAD_DIR"))
        return folder;
    const auto home = homeFolder();
    if (!home)
        return std::nullopt;
    if (auto folder = downloadsFromUserDirs(*home))
        return folder;
    return *home / "Downloads";
}

std::optional<fs::path> FileManager::cachesFolder()
{
    return xdgAppFolder("XDG_CACHE_HOME", ".cache");
}

std::optional<fs::path> FileManager::configFolder()
{
    return xdgAppFolder("XDG_CONFIG_HOME", ".config");
}

std::optional<fs::path> FileManager::stateFolder()
{
    return xdgAppFolder("XDG_STATE_HOME", ".local/state");
}

std::optional<fs::path> FileManager::runtimeFolder()
{
    return absoluteEnv("XDG_RUNTIME_DIR");
}

std::optional<fs::path> FileManager::cacheFileDirWithPath(std::string_view name)
{
    return subfolder(cachesFolder(), name);
}

std::optional<fs::path> FileManager::downloadDirWithPath(std::string_view name)
{
    return subfolder(downloadsFolder(), name);
}

bool FileManager::createDirAtPath(const fs::path& folder, std::string_view name)
{
    return ensureFolder(folder / name).has_value();
}

std::optional<fs::path> FileManager::createFileAtPath(const fs::path& folder, std::string_view fileName)
{
    if (!ensureFolder(folder))
        return std::nullopt;
    fs::path path = folder / fileName;
    // No O_TRUNC: an existing file keeps what it holds.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        PLOG_ERRNO("cannot make file %s", path.c_str());
        return std::nullopt;
    }
    ::close(fd);
    return path;
}

std::optional<fs::path> FileManager::cacheFileWithPath(std::string_view folderName, std::string_view fileName)
{
    auto folder = cacheFileDirWithPath(folderName);
    if (!folder)
        return std::nullopt;
    return *folder / fileName;
}

bool FileManager::removeFileAtDirPath(const fs::path& folder)
{
    const auto entries = listFolder(folder);
    if (!entries)
        return false;
    bool emptied = true;
    for (const auto& entry : *entries) {
        // remove_all does not follow links: a link to a folder goes, the folder it names stays.
        if (!removeFileAtPath(entry))
            emptied = false;
    }
    return emptied;
}

bool FileManager::removeFileAtPath(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error) {
        PLOG("cannot remove %s: %s", path.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

std::optional<Error> FileManager::renameWithoutReplacing(const fs::path& from, const fs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS)
        return Error::posix(error);
    // A filesystem without RENAME_NOREPLACE: a hard link never replaces a name either.
    if (::link(from.c_str(), to.c_str()) != 0)
        return Error::posix(errno);
    ::unlink(from.c_str());
    return std::nullopt;
}

std::optional<std::vector<std::string>> FileManager::getFilesFromPath(const fs::path& folder)
{
    const auto entries = listFolder(folder);
    if (!entries)
        return std::nullopt;
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (const auto& entry : *entries)
        names.push_back(entry.filename().string());
    return names;
}
