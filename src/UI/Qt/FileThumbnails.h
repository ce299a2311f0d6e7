#pragma once

#include "FileShare/FileMessage.h"

#include <QPixmap>

#include <map>
#include <string>

// The pictures of the file panel's tiles: a picture file's own image scaled into the tile, else the
// picture of the file's category ("unknown" for a picture that cannot be read). Each file's picture is
// made once, on its first display, and kept by its id. Main thread.
class FileThumbnails {
public:
    static constexpr int kSide = 68;

    QPixmap thumbnail(const FileMessage& file);
    // Forgets the pictures of files no longer listed.
    void keepOnly(const std::vector<FileMessage>& files);

    // The picture of a file read and scaled to fit kSide × kSide; null when it cannot be read.
    static QPixmap scaledImage(const std::filesystem::path& path);

private:
    static QPixmap make(const FileMessage& file);

    std::map<std::string, QPixmap> byId_;
};
