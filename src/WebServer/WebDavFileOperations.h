#pragma once

#include "WebServer/HttpError.h"

#include <string>

// The changes a WebDAV method makes on disk, each one such that a reader sees the old item or the new,
// never a half-made one or none. Items are named by a folder descriptor and a name within it, and every
// call is relative to such descriptors, so a folder renamed meanwhile cannot send a change elsewhere.
// Links are acted on themselves, never followed.
class WebDavFileOperations {
public:
    struct Item {
        int folder;
        std::string name;
    };

    // Renames `from` to `to`, atomically replacing whatever `to` holds (a file by renameat(2), a folder
    // by exchanging the two and then deleting the old one).
    static bool moveItem(const Item& from, const Item& to, HttpError* error);
    // Copies `from` (a folder with its contents) into a scratch folder named `scratchPrefix` + random in
    // `scratchFolder` (on the destination's filesystem), then moves it into place as moveItem does.
    static bool copyItem(const Item& from, const Item& to, int scratchFolder, const std::string& scratchPrefix, HttpError* error);
    // Deletes the item, a folder with its contents.
    static bool removeItem(const Item& item, HttpError* error);
    // Deletes every item of `folder` whose name begins with `prefix`; returns how many went.
    static int removeItemsWithPrefix(int folder, const std::string& prefix);
};
