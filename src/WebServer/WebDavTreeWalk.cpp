#include "WebServer/WebDavTreeWalk.h"

#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerFolder.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kCopyPiece = 1 << 16;

// The item's mode without following a link; 0 when it is missing.
mode_t modeOf(int folder, const std::string& name)
{
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_mode : 0;
}

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

bool identify(int fd, Identity& identity)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    identity = {info.st_dev, info.st_ino};
    return true;
}

// One folder of the walk: its name in its parent, who it is, and the entries still to visit.
struct Level {
    std::string name;
    Identity identity;
    std::vector<std::string> pending;
};

// Opens a folder of the walk (never through a link) and lists it.
HttpServerDescriptor enter(int parent, const std::string& name, Level& level)
{
    HttpServerDescriptor folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    level.name = name;
    if (!folder.isOpen() || !identify(folder.get(), level.identity) || !HttpServerFolder::list(folder.get(), level.pending))
        return {};
    return folder;
}

// The parent of `folder`, which must be the folder the walk came down from.
HttpServerDescriptor climb(int folder, const Identity& expected)
{
    HttpServerDescriptor parent(::openat(folder, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Identity found;
    if (!parent.isOpen() || !identify(parent.get(), found))
        return {};
    if (!(found == expected)) {
        errno = ESTALE;
        return {};
    }
    return parent;
}

bool copyFile(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName, mode_t mode)
{
    const HttpServerDescriptor in(::openat(fromFolder, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!in.isOpen())
        return false;
    const HttpServerDescriptor out(::openat(toFolder, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777));
    if (!out.isOpen())
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

bool copyLink(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName)
{
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = ::readlinkat(fromFolder, fromName.c_str(), target.data(), target.size() - 1);
    return length >= 0 && ::symlinkat(std::string(target.data(), static_cast<size_t>(length)).c_str(), toFolder, toName.c_str()) == 0;
}

// Copies one entry that is not a folder; special files are left out, as nothing serves them.
bool copyLeaf(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName, mode_t mode)
{
    if (S_ISREG(mode))
        return copyFile(fromFolder, fromName, toFolder, toName, mode);
    if (S_ISLNK(mode))
        return copyLink(fromFolder, fromName, toFolder, toName);
    return true;
}

}  // namespace

bool WebDavTreeWalk::remove(int folder, const std::string& name)
{
    if (!S_ISDIR(modeOf(folder, name)))
        return ::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT;
    std::vector<Level> path(1);
    HttpServerDescriptor current = enter(folder, name, path.back());
    if (!current.isOpen())
        return errno == ENOENT;
    for (;;) {
        Level& level = path.back();
        if (!level.pending.empty()) {
            const std::string entry = std::move(level.pending.back());
            level.pending.pop_back();
            if (!S_ISDIR(modeOf(current.get(), entry))) {
                if (::unlinkat(current.get(), entry.c_str(), 0) != 0 && errno != ENOENT)
                    return false;
                continue;
            }
            Level child;
            HttpServerDescriptor inner = enter(current.get(), entry, child);
            if (!inner.isOpen())
                return false;
            path.push_back(std::move(child));
            current = std::move(inner);
            continue;
        }
        // Emptied: the folder goes, from its parent.
        if (path.size() == 1) {
            current = HttpServerDescriptor();
            return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
        }
        HttpServerDescriptor parent = climb(current.get(), path[path.size() - 2].identity);
        if (!parent.isOpen())
            return false;
        const std::string emptied = std::move(level.name);
        path.pop_back();
        current = std::move(parent);
        if (::unlinkat(current.get(), emptied.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return false;
    }
}

bool WebDavTreeWalk::copy(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName)
{
    const mode_t mode = modeOf(fromFolder, fromName);
    if (mode == 0) {
        errno = ENOENT;
        return false;
    }
    if (!S_ISDIR(mode))
        return copyLeaf(fromFolder, fromName, toFolder, toName, mode);
    // Two walks in step: the source, and the copy being made.
    if (::mkdirat(toFolder, toName.c_str(), (mode & 0777) | 0700) != 0)
        return false;
    std::vector<Level> sources(1);
    std::vector<Level> targets(1);
    HttpServerDescriptor source = enter(fromFolder, fromName, sources.back());
    HttpServerDescriptor target = source.isOpen() ? enter(toFolder, toName, targets.back()) : HttpServerDescriptor();
    if (!target.isOpen())
        return false;
    for (;;) {
        Level& level = sources.back();
        if (!level.pending.empty()) {
            const std::string entry = std::move(level.pending.back());
            level.pending.pop_back();
            const mode_t entryMode = modeOf(source.get(), entry);
            if (entryMode == 0)
                continue;  // gone meanwhile
            if (!S_ISDIR(entryMode)) {
                if (!copyLeaf(source.get(), entry, target.get(), entry, entryMode))
                    return false;
                continue;
            }
            if (::mkdirat(target.get(), entry.c_str(), (entryMode & 0777) | 0700) != 0)
                return false;
            Level sourceChild;
            Level targetChild;
            HttpServerDescriptor innerSource = enter(source.get(), entry, sourceChild);
            HttpServerDescriptor innerTarget = innerSource.isOpen() ? enter(target.get(), entry, targetChild) : HttpServerDescriptor();
            if (!innerTarget.isOpen())
                return false;
            sources.push_back(std::move(sourceChild));
            targets.push_back(std::move(targetChild));
            source = std::move(innerSource);
            target = std::move(innerTarget);
            continue;
        }
        if (sources.size() == 1)
            return true;
        source = climb(source.get(), sources[sources.size() - 2].identity);
        target = source.isOpen() ? climb(target.get(), targets[targets.size() - 2].identity) : HttpServerDescriptor();
        if (!target.isOpen())
            return false;
        sources.pop_back();
        targets.pop_back();
    }
}
