#pragma once

#include "WebServer/HttpError.h"

#include <string>

// The changes a WebDAV method makes on disk, each one such that a reader sees the old item or the new,
// never a half-made one or none. Links are acted on themselves, never followed.
class WebDavFileOperations {
public:
    // Renames `from` to `to`, atomically replacing whatever `to` holds (a file by rename(2), a folder
    // by exchanging the two and then deleting the old one).
    static bool moveItem(const std::string& from, const std::string& to, HttpError* error);
    // Copies `from` (a folder with its contents) to a scratch folder named `scratchPrefix` + random
    // beside `to`, then moves it into place as moveItem does.
    static bool copyItem(const std::string& from, const std::string& to, const std::string& scratchPrefix, HttpError* error);
    // Deletes the item, a folder with its contents.
    static bool removeItem(const std::string& path, HttpError* error);
};
