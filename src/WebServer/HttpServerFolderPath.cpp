#include "WebServer/HttpServerFolderPath.h"

#include <fcntl.h>

HttpServerDescriptor HttpServerFolderPath::openFolder() const
{
    return HttpServerDescriptor(::openat(parent_.get(), entry_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::string HttpServerFolderPath::pinnedPath() const
{
    return "/proc/self/fd/" + std::to_string(parent_.get()) + "/" + entry_;
}

bool HttpServerFolderPath::isWithin(const HttpServerFolderPath& other) const
{
    const std::string& folder = other.canonical_;
    return !canonical_.empty() && !folder.empty()
        && (canonical_ == folder || (canonical_.starts_with(folder) && (folder.ends_with('/') || canonical_[folder.size()] == '/')));
}
