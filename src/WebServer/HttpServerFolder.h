#pragma once

#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerFolderPath.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A served folder, held open from creation. Request paths are placed inside it by resolve(): ".." cannot
// climb out (the path is normalised first), and the kernel resolves the parent folders beneath the
// folder's descriptor (openat2 with RESOLVE_BENEATH), so a symbolic link that leads out is refused while
// one that stays inside works.
class HttpServerFolder {
public:
    explicit HttpServerFolder(std::string path);

    // The folder's path without a trailing "/".
    const std::string& path() const { return path_; }
    int descriptor() const { return root_->get(); }
    // `relative` is already percent-decoded.
    HttpServerFolderPath resolve(std::string_view relative) const;

    // The entry names of the folder descriptor `folder` in byte order, without "." and "..";
    // false (errno set) when it cannot be read.
    static bool list(int folder, std::vector<std::string>& names);

private:
    std::string path_;
    // Shared with the paths of the folder's own items, which use it as their parent folder.
    std::shared_ptr<const HttpServerDescriptor> root_;
};
