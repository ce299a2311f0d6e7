#include "WebServer/WebDavPath.h"

#include "WebServer/HttpServerFunctions.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace {

bool isInside(const std::string& path, const std::string& folder)
{
    return path == folder || (path.starts_with(folder) && (folder.ends_with('/') || path[folder.size()] == '/'));
}

}  // namespace

WebDavPath WebDavPath::resolve(const std::string& root, const std::string& realRoot, std::string_view relative)
{
    WebDavPath path;
    path.relative_ = relative;
    if (relative.find('\0') != std::string_view::npos) {
        path.problem_ = Problem::Malformed;
        return path;
    }
    std::string normalized = HttpServerFunctions::normalizeRequestPath(relative);
    if (!normalized.empty() && normalized.front() != '/')
        normalized.insert(0, "/");
    path.absolute_ = root + normalized;
    if (normalized.empty() || normalized == "/") {
        path.absolute_ = root;
        path.canonical_ = realRoot;
        path.parentIsFolder_ = path.exists_ = path.isFolder_ = true;
        return path;
    }
    const size_t slash = normalized.rfind('/');
    path.name_ = normalized.substr(slash + 1);
    const std::string parent = root + normalized.substr(0, slash);
    char resolved[PATH_MAX];
    struct stat info {};
    if (::realpath(parent.c_str(), resolved) == nullptr || ::stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode))
        return path;  // no parent folder, so no item either
    const std::string realParent = resolved;
    if (!isInside(realParent, realRoot)) {
        path.problem_ = Problem::Outside;
        return path;
    }
    path.parentIsFolder_ = true;
    path.canonical_ = realParent + (realParent.ends_with('/') ? "" : "/") + path.name_;
    if (::lstat(path.canonical_.c_str(), &info) == 0) {
        path.exists_ = true;
        path.isFolder_ = S_ISDIR(info.st_mode);
    }
    return path;
}

bool WebDavPath::isWithin(const WebDavPath& other) const
{
    return !canonical_.empty() && !other.canonical_.empty() && isInside(canonical_, other.canonical_);
}
