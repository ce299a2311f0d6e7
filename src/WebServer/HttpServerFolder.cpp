#include "WebServer/HttpServerFolder.h"

#include "Utils/Log.h"
#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// openat2 may answer EAGAIN when a rename elsewhere raced with a ".." inside a link's target.
constexpr int kResolveAttempts = 8;

int openBeneath(int root, const std::string& relative)
{
    open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < kResolveAttempts; ++attempt) {
        const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof(how));
        if (fd >= 0 || errno != EAGAIN)
            return static_cast<int>(fd);
    }
    return -1;
}

}  // namespace

HttpServerFolder::HttpServerFolder(std::string path) : path_(std::move(path))
{
    while (path_.size() > 1 && path_.ends_with('/'))
        path_.pop_back();
    root_ = std::make_shared<const HttpServerDescriptor>(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root_->isOpen())
        PLOG_ERRNO("open served folder \"%s\"", path_.c_str());
}

HttpServerFolderPath HttpServerFolder::resolve(std::string_view relative) const
{
    HttpServerFolderPath path;
    path.relative_ = relative;
    if (relative.find('\0') != std::string_view::npos) {
        path.problem_ = HttpServerFolderPath::Problem::Malformed;
        return path;
    }
    const std::string normalized = HttpServerFunctions::normalizeRequestPath(relative);
    const std::string inside = normalized.starts_with('/') ? normalized.substr(1) : normalized;
    path.absolute_ = inside.empty() ? path_ : path_ + "/" + inside;
    const size_t slash = inside.rfind('/');
    path.name_ = slash == std::string::npos ? inside : inside.substr(slash + 1);
    path.entry_ = inside.empty() ? "." : path.name_;
    if (inside.size() >= PATH_MAX || std::any_of(inside.begin(), inside.end(), [&, run = size_t{0}](char c) mutable {
            run = c == '/' ? 0 : run + 1;
            return run > NAME_MAX;
        })) {
        path.problem_ = HttpServerFolderPath::Problem::TooLong;
        return path;
    }
    const std::string parent = slash == std::string::npos ? "." : inside.substr(0, slash);

    // An item of the folder itself has the folder for parent: sharing its descriptor spares a request
    // two system calls (a copy and its close).
    path.parent_ = parent == "." ? root_ : std::make_shared<const HttpServerDescriptor>(openBeneath(root_->get(), parent));
    if (!path.parent_->isOpen()) {
        if (errno == EXDEV || errno == ELOOP)
            path.problem_ = HttpServerFolderPath::Problem::Outside;
        else if (errno == ENOSYS) {
            PLOG("openat2 is missing: paths cannot be confined to \"%s\", so none is served", path_.c_str());
            path.problem_ = HttpServerFolderPath::Problem::Unsupported;
        }
        return path;  // no parent folder, so no item either
    }
    struct stat info {};
    if (::fstatat(path.parent_->get(), path.entry_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        path.exists_ = true;
        path.isFolder_ = S_ISDIR(info.st_mode);
    }
    return path;
}

bool HttpServerFolder::list(int folder, std::vector<std::string>& names)
{
    // A readable descriptor of its own, as `folder` may be O_PATH and fdopendir takes ownership.
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* entries = ::fdopendir(fd);
    if (entries == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..")
            names.push_back(entryName);
    }
    ::closedir(entries);
    std::sort(names.begin(), names.end());
    return true;
}
