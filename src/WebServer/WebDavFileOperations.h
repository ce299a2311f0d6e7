#pragma once

#include "WebServer/HttpError.h"

#include <functional>
#include <string>

class HttpServerFolder;

// The changes a WebDAV method makes on disk, each one such that a reader sees the old item or the new,
// never a half-made one, and a crash at any moment leaves each name wholly old or wholly new once the
// server has started again. Items are named by a folder descriptor and a name within it, and every call
// is relative to such descriptors, so a folder renamed meanwhile cannot send a change elsewhere. Links
// are acted on themselves, never followed. Trees of any depth are walked with a handful of descriptors.
class WebDavFileOperations {
public:
    struct Item {
        int folder;
        std::string name;
    };
    // Where replaced and half-made items wait: scratch folders named `prefix` + random in `folder` (the
    // served folder, on the destination's filesystem). `origin` is the destination's path within the
    // served folder, recorded so that recover() can put a replaced item back; `discard` takes the name
    // of a scratch folder to remove later, off the request's thread.
    struct Scratch {
        int folder;
        std::string prefix;
        std::string origin;
        std::function<void(const std::string& name)> discard;
    };

    // Renames `from` to `to`. A file replaces a file in one rename(2). Otherwise an existing `to` first
    // moves aside into a scratch folder that records where it came from, `from` takes its name, and the
    // scratch folder is discarded: a crash in between leaves the old item to be put back by recover().
    static bool moveItem(const Item& from, const Item& to, const Scratch& scratch, HttpError* error);
    // Copies `from` (a folder with its contents) into a scratch folder, then moves it into place as
    // moveItem does; a crash mid-copy leaves only the scratch folder.
    static bool copyItem(const Item& from, const Item& to, const Scratch& scratch, HttpError* error);
    // Deletes the item, a folder with its contents.
    static bool removeItem(const Item& item, HttpError* error);
    // Settles the scratch folders of `prefix` that a stopped process left in the served folder: an item
    // moved aside whose place is still empty goes back, everything else is deleted. Returns how many
    // scratch folders there were.
    static int recover(const HttpServerFolder& folder, const std::string& prefix);
};
