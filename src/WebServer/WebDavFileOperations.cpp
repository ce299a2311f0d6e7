#include "WebServer/WebDavFileOperations.h"

#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerFolder.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/WebDavTreeWalk.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kScratchAttempts = 16;
// Inside a scratch folder: the item moved aside, the copy being made, and where the first came from.
constexpr const char* kAsideName = "item";
constexpr const char* kCopyName = "copy";
constexpr const char* kOriginName = "origin";

bool fail(HttpError* error, int errorNumber)
{
    HttpError::assign(error, HttpError::posix(errorNumber));
    return false;
}

// The item's mode without following a link; 0 when it is missing.
mode_t modeOf(const WebDavFileOperations::Item& item)
{
    struct stat info {};
    return ::fstatat(item.folder, item.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_mode : 0;
}

std::string randomSuffix()
{
    thread_local std::mt19937_64 generator {std::random_device {}()};
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix(12, '0');
    for (char& c : suffix)
        c = kDigits[generator() % (sizeof(kDigits) - 1)];
    return suffix;
}

// A new scratch folder of `scratch`; empty (errno set) when none can be made.
std::string makeScratchFolder(const WebDavFileOperations::Scratch& scratch)
{
    for (int attempt = 0; attempt <= kScratchAttempts; ++attempt) {
        const std::string candidate = scratch.prefix + randomSuffix();
        if (::mkdirat(scratch.folder, candidate.c_str(), 0700) == 0)
            return candidate;
        if (errno != EEXIST)
            break;
    }
    return {};
}

bool writeOrigin(int folder, const std::string& origin)
{
    const HttpServerDescriptor file(::openat(folder, kOriginName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return file.isOpen() && ::write(file.get(), origin.data(), origin.size()) == static_cast<ssize_t>(origin.size());
}

std::string readOrigin(int folder)
{
    const HttpServerDescriptor file(::openat(folder, kOriginName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    std::string origin;
    char piece[4096];
    ssize_t count;
    while (file.isOpen() && (count = ::read(file.get(), piece, sizeof(piece))) > 0 && origin.size() < 2 * PATH_MAX)
        origin.append(piece, static_cast<size_t>(count));
    return origin;
}

// Moves into a place that is empty; false with errno EEXIST when it is taken.
bool renameIntoEmpty(const WebDavFileOperations::Item& from, const WebDavFileOperations::Item& to)
{
    if (::renameat2(from.folder, from.name.c_str(), to.folder, to.name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A filesystem without the flag: checked, then renamed, with the small race that implies.
    if (::faccessat(to.folder, to.name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0;
}

// Puts `from` in the place of the existing `to` through the scratch folder `staging` (see moveItem).
bool replaceThroughScratch(const WebDavFileOperations::Item& from, const WebDavFileOperations::Item& to, int staging,
    const WebDavFileOperations::Scratch& scratch, HttpError* error)
{
    if (!writeOrigin(staging, scratch.origin))
        return fail(error, errno);
    const WebDavFileOperations::Item aside {staging, kAsideName};
    if (::renameat(to.folder, to.name.c_str(), aside.folder, aside.name.c_str()) != 0)
        return fail(error, errno);
    if (!renameIntoEmpty(from, to)) {
        const int code = errno;
        ::renameat(aside.folder, aside.name.c_str(), to.folder, to.name.c_str());
        return fail(error, code);
    }
    // The new item stands: the old one must never come back.
    ::unlinkat(staging, kOriginName, 0);
    return true;
}

}  // namespace

bool WebDavFileOperations::moveItem(const Item& from, const Item& to, const Scratch& scratch, HttpError* error)
{
    const mode_t target = modeOf(to);
    // renameat(2) replaces a file by a file in one step, and fills an empty place.
    if (target == 0 || (!S_ISDIR(modeOf(from)) && !S_ISDIR(target)))
        return ::renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0 || fail(error, errno);
    const std::string name = makeScratchFolder(scratch);
    if (name.empty())
        return fail(error, errno);
    const HttpServerDescriptor staging(::openat(scratch.folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const bool moved = staging.isOpen() ? replaceThroughScratch(from, to, staging.get(), scratch, error) : fail(error, errno);
    scratch.discard(name);
    return moved;
}

bool WebDavFileOperations::copyItem(const Item& from, const Item& to, const Scratch& scratch, HttpError* error)
{
    const std::string name = makeScratchFolder(scratch);
    if (name.empty())
        return fail(error, errno);
    const HttpServerDescriptor staging(::openat(scratch.folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool copied = staging.isOpen() && WebDavTreeWalk::copy(from.folder, from.name, staging.get(), kCopyName);
    if (!copied) {
        fail(error, errno);
    } else {
        const Item copy {staging.get(), kCopyName};
        const mode_t target = modeOf(to);
        if (target == 0 || (!S_ISDIR(modeOf(copy)) && !S_ISDIR(target)))
            copied = ::renameat(copy.folder, copy.name.c_str(), to.folder, to.name.c_str()) == 0 || fail(error, errno);
        else
            copied = replaceThroughScratch(copy, to, staging.get(), scratch, error);
    }
    scratch.discard(name);
    return copied;
}

bool WebDavFileOperations::removeItem(const Item& item, HttpError* error)
{
    if (WebDavTreeWalk::remove(item.folder, item.name))
        return true;
    const int code = errno;
    HttpServerLog::log(HttpServerLog::Warning, "Failed deleting \"%s\": %s", item.name.c_str(), std::strerror(code));
    return fail(error, code);
}

int WebDavFileOperations::recover(const HttpServerFolder& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    if (!HttpServerFolder::list(folder.descriptor(), names))
        return 0;
    int settled = 0;
    for (const std::string& name : names) {
        if (!name.starts_with(prefix))
            continue;
        ++settled;
        const HttpServerDescriptor staging(::openat(folder.descriptor(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const std::string origin = staging.isOpen() ? readOrigin(staging.get()) : std::string();
        if (!origin.empty() && modeOf({staging.get(), kAsideName}) != 0) {
            const HttpServerFolderPath place = folder.resolve("/" + origin);
            if (place.problem() == HttpServerFolderPath::Problem::None && !place.isRoot() && place.parentIsFolder() && !place.exists()
                && renameIntoEmpty({staging.get(), kAsideName}, {place.parent(), place.entry()})) {
                HttpServerLog::log(HttpServerLog::Info, "Put \"%s\" back after an interrupted move or copy", origin.c_str());
            }
        }
        removeItem({folder.descriptor(), name}, nullptr);
    }
    return settled;
}
