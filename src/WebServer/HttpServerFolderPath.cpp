#include "WebServer/HttpServerFolderPath.h"

#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Where a descriptor leads, from the kernel; empty when it can't say.
std::string descriptorTarget(int fd)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof(target));
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

}  // namespace

HttpServerDescriptor HttpServerFolderPath::openFolder() const
{
    return HttpServerDescriptor(::openat(parent(), entry_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Asked of the kernel only here: a plain GET never needs it.
std::string HttpServerFolderPath::canonical() const
{
    if (!parentIsFolder())
        return {};
    const std::string realParent = descriptorTarget(parent());
    if (realParent.empty() || isRoot())
        return realParent;
    return realParent + (realParent.ends_with('/') ? "" : "/") + name_;
}

bool HttpServerFolderPath::isWithin(const HttpServerFolderPath& other) const
{
    const std::string item = canonical();
    const std::string folder = other.canonical();
    return !item.empty() && !folder.empty()
        && (item == folder || (item.starts_with(folder) && (folder.ends_with('/') || item[folder.size()] == '/')));
}
