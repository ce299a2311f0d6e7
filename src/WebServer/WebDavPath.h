#pragma once

#include <string>
#include <string_view>

// A request path (already percent-decoded) placed inside the served folder. ".." cannot climb out,
// since the path is normalised first, and a symbolic link among the parent folders cannot lead out
// either: the parent is resolved with realpath and must lie within the folder's own real path. The
// item itself is looked at without following a link, so a link is never taken for what it points to.
class WebDavPath {
public:
    enum class Problem { None, Malformed, Outside };

    // `realRoot` is realpath(root), computed once by the caller.
    static WebDavPath resolve(const std::string& root, const std::string& realRoot, std::string_view relative);

    // Malformed: the path holds NUL. Outside: a link among its parents leads out of the folder.
    Problem problem() const { return problem_; }
    const std::string& relative() const { return relative_; }
    const std::string& absolute() const { return absolute_; }
    // The item's path with its parent resolved; two items are the same when these are equal.
    const std::string& canonical() const { return canonical_; }
    // The last component; empty for the served folder itself.
    const std::string& name() const { return name_; }
    bool isRoot() const { return name_.empty(); }
    bool parentIsFolder() const { return parentIsFolder_; }
    bool exists() const { return exists_; }
    bool isFolder() const { return isFolder_; }
    // The same item or one inside it.
    bool isWithin(const WebDavPath& other) const;

private:
    Problem problem_ = Problem::None;
    std::string relative_;
    std::string absolute_;
    std::string canonical_;
    std::string name_;
    bool parentIsFolder_ = false;
    bool exists_ = false;
    bool isFolder_ = false;
};
