#include "WebServer/WebDavFileOperations.h"

#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerFolder.h"
#include "WebServer/HttpServerLog.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kCopyPiece = 1 << 16;
constexpr int kScratchAttempts = 16;

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

HttpServerDescriptor openFolder(const WebDavFileOperations::Item& item)
{
    return HttpServerDescriptor(::openat(item.folder, item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool removeTree(const WebDavFileOperations::Item& item)
{
    if (!S_ISDIR(modeOf(item)))
        return ::unlinkat(item.folder, item.name.c_str(), 0) == 0 || errno == ENOENT;
    const HttpServerDescriptor folder = openFolder(item);
    std::vector<std::string> names;
    if (!folder.isOpen() || !HttpServerFolder::list(folder.get(), names))
        return false;
    for (const std::string& name : names) {
        if (!removeTree({folder.get(), name}))
            return false;
    }
    return ::unlinkat(item.folder, item.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

bool copyFile(const WebDavFileOperations::Item& from, const WebDavFileOperations::Item& to, mode_t mode)
{
    const HttpServerDescriptor in(::openat(from.folder, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const HttpServerDescriptor out(::openat(to.folder, to.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777));
    if (!in.isOpen() || !out.isOpen())
        return false;
    std::vector<char> piece(kCopyPiece);
    for (;;) {
        const ssize_t count = ::read(in.get(), piece.data(), piece.size());
        if (count <= 0)
            return count == 0;
        for (ssize_t written = 0; written < count;) {
            const ssize_t step = ::write(out.get(), piece.data() + written, static_cast<size_t>(count - written));
            if (step < 0)
                return false;
            written += step;
        }
    }
}

// Links are copied as links; other special files are left out, as nothing serves them.
bool copyTree(const WebDavFileOperations::Item& from, const WebDavFileOperations::Item& to)
{
    const mode_t mode = modeOf(from);
    if (S_ISREG(mode))
        return copyFile(from, to, mode);
    if (S_ISLNK(mode)) {
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = ::readlinkat(from.folder, from.name.c_str(), target.data(), target.size() - 1);
        return length >= 0 && ::symlinkat(std::string(target.data(), static_cast<size_t>(length)).c_str(), to.folder, to.name.c_str()) == 0;
    }
    if (mode == 0)
        return false;
    if (!S_ISDIR(mode))
        return true;
    if (::mkdirat(to.folder, to.name.c_str(), (mode & 0777) | 0700) != 0)
        return false;
    const HttpServerDescriptor source = openFolder(from);
    const HttpServerDescriptor target = openFolder(to);
    std::vector<std::string> names;
    if (!source.isOpen() || !target.isOpen() || !HttpServerFolder::list(source.get(), names))
        return false;
    for (const std::string& name : names) {
        if (!copyTree({source.get(), name}, {target.get(), name}))
            return false;
    }
    return true;
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

}  // namespace

bool WebDavFileOperations::moveItem(const Item& from, const Item& to, HttpError* error)
{
    const mode_t target = modeOf(to);
    // renameat(2) replaces a file (or an empty folder by a folder) in one step.
    if (target == 0 || (!S_ISDIR(modeOf(from)) && !S_ISDIR(target)))
        return ::renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0 || fail(error, errno);
    if (::renameat2(from.folder, from.name.c_str(), to.folder, to.name.c_str(), RENAME_EXCHANGE) == 0) {
        // `from` now names the replaced item.
        removeItem(from, nullptr);
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return fail(error, errno);
    // A filesystem that cannot exchange: the old item goes first.
    removeItem(to, nullptr);
    return ::renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str()) == 0 || fail(error, errno);
}

bool WebDavFileOperations::copyItem(const Item& from, const Item& to, int scratchFolder, const std::string& scratchPrefix, HttpError* error)
{
    std::string scratchName;
    for (int attempt = 0; scratchName.empty(); ++attempt) {
        const std::string candidate = scratchPrefix + randomSuffix();
        if (::mkdirat(scratchFolder, candidate.c_str(), 0700) == 0)
            scratchName = candidate;
        else if (errno != EEXIST || attempt == kScratchAttempts)
            return fail(error, errno);
    }
    const Item scratch {scratchFolder, scratchName};
    const HttpServerDescriptor staging = openFolder(scratch);
    bool copied = staging.isOpen() && copyTree(from, {staging.get(), "item"});
    if (!copied)
        fail(error, errno);
    else
        copied = moveItem({staging.get(), "item"}, to, error);
    removeItem(scratch, nullptr);
    return copied;
}

bool WebDavFileOperations::removeItem(const Item& item, HttpError* error)
{
    if (removeTree(item))
        return true;
    const int code = errno;
    HttpServerLog::log(HttpServerLog::Warning, "Failed deleting \"%s\": %s", item.name.c_str(), std::strerror(code));
    return fail(error, code);
}

int WebDavFileOperations::removeItemsWithPrefix(int folder, const std::string& prefix)
{
    std::vector<std::string> names;
    if (!HttpServerFolder::list(folder, names))
        return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (name.starts_with(prefix) && removeItem({folder, name}, nullptr))
            ++removed;
    }
    return removed;
}
