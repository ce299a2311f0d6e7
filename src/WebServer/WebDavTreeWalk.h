#pragma once

#include <string>

// Removes and copies folder trees of any depth while holding a handful of descriptors: the walk keeps
// only the folder it is in open and climbs back through "..", checking that it lands in the folder it
// came down from (a folder moved meanwhile fails the walk rather than sending it elsewhere). A tree
// 2,000 levels deep thus needs no more descriptors than a flat one, and other requests never run out.
// Links are acted on themselves, never followed; special files are left out of copies.
class WebDavTreeWalk {
public:
    // The item `name` of the folder descriptor `folder`, a folder with its contents. A missing item
    // counts as removed. False with errno set.
    static bool remove(int folder, const std::string& name);
    // Copies `fromName` of `fromFolder` to `toName` of `toFolder`, which must not exist. False with
    // errno set; what was copied so far stays for the caller to remove.
    static bool copy(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName);
};
