#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The announcement of one file pushed to the TV: a JSON array with one object.
struct FileShareList {
    std::string url;      // where the shared-file server offers the file's folder
    std::string fileId;   // decimal text of 2 to 8 digits
    std::string fileName;

    // Compact UTF-8 JSON text; a byte sequence in a text that is not UTF-8 becomes U+FFFD.
    std::vector<uint8_t> encode() const;
};
