#pragma once

#include "WebServer/HttpServerDescriptor.h"

#include <memory>
#include <string>

// A request path placed inside a served folder (made by HttpServerFolder::resolve). It holds a descriptor
// of the item's parent folder, reached from the served folder without any symbolic link leading out, so
// acting relative to parent() with *at calls touches this item even when a
// concurrent rename swaps a folder above it for a link. The item itself is looked at without following
// a link, so a link is never taken for what it points to.
class HttpServerFolderPath {
public:
    // Malformed: the path holds NUL. Outside: a link among its parents leads out of the folder.
    // Unsupported: the kernel cannot resolve a path confined to the folder, so nothing is served.
    // TooLong: a name past NAME_MAX or a path past PATH_MAX, which no file of the folder can have.
    enum class Problem { None, Malformed, Outside, Unsupported, TooLong };

    Problem problem() const { return problem_; }
    // The path as received.
    const std::string& relative() const { return relative_; }
    // The served folder joined with the normalised path, for messages, hooks and delegates.
    const std::string& absolute() const { return absolute_; }
    // The last component; empty for the served folder itself.
    const std::string& name() const { return name_; }
    bool isRoot() const { return name_.empty(); }
    bool parentIsFolder() const { return parent_ && parent_->isOpen(); }
    bool exists() const { return exists_; }
    bool isFolder() const { return isFolder_; }
    // The descriptor of the parent folder (-1 when it is missing) and the item's name within it
    // ("." for the served folder itself).
    int parent() const { return parent_ ? parent_->get() : -1; }
    const std::string& entry() const { return entry_; }
    // A descriptor (O_PATH) of the item when it is a folder, for listing it and acting inside it.
    HttpServerDescriptor openFolder() const;
    // The same item or one inside it.
    bool isWithin(const HttpServerFolderPath& other) const;
    // The item's real path (its parent's, as the kernel resolved it, and its name); empty when unknown.
    std::string canonical() const;

private:
    friend class HttpServerFolder;

    Problem problem_ = Problem::None;
    std::string relative_;
    std::string absolute_;
    std::string name_;
    std::string entry_;
    // The served folder's own descriptor for its items; never written through.
    std::shared_ptr<const HttpServerDescriptor> parent_;
    bool exists_ = false;
    bool isFolder_ = false;
};
