#include "WebServer/WebDavFileOperations.h"

#include "WebServer/HttpServerLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool fail(HttpError* error, int errorNumber)
{
    HttpError::assign(error, HttpError::posix(errorNumber));
    return false;
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool WebDavFileOperations::moveItem(const std::string& from, const std::string& to, HttpError* error)
{
    // rename(2) replaces a file (or an empty folder by a folder) in one step.
    if (!exists(to) || (!isFolder(from) && !isFolder(to)))
        return ::rename(from.c_str(), to.c_str()) == 0 || fail(error, errno);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        // `from` now names the replaced item.
        removeItem(from, nullptr);
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return fail(error, errno);
    // A filesystem that cannot exchange: the old item goes first.
    removeItem(to, nullptr);
    return ::rename(from.c_str(), to.c_str()) == 0 || fail(error, errno);
}

bool WebDavFileOperations::copyItem(const std::string& from, const std::string& to, const std::string& scratchPrefix, HttpError* error)
{
    const std::string pattern = fs::path(to).parent_path().string() + "/" + scratchPrefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        return fail(error, errno);
    const std::string scratch = name.data();
    const std::string staged = scratch + "/item";
    std::error_code code;
    fs::copy(from, staged, fs::copy_options::recursive | fs::copy_options::copy_symlinks, code);
    const bool copied = !code && moveItem(staged, to, error);
    if (code)
        fail(error, code.value());
    removeItem(scratch, nullptr);
    return copied;
}

bool WebDavFileOperations::removeItem(const std::string& path, HttpError* error)
{
    std::error_code code;
    fs::remove_all(path, code);
    if (code) {
        HttpServerLog::log(HttpServerLog::Warning, "Failed deleting \"%s\": %s", path.c_str(), code.message().c_str());
        return fail(error, code.value());
    }
    return true;
}
