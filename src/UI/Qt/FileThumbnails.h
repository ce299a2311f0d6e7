#pragma once

#include "FileShare/FileMessage.h"

#include <QPixmap>

#include <map>
#include <string>

// The pictures of the file panel's tiles: a picture file's own image or a video's first picture scaled
// into the tile, else the picture of the file's category ("unknown" for a picture or video that cannot
// be read). Each file's picture is
// made once, on its first display, and kept by its id. Main thread.
class FileThumbnails {
public:
    static constexpr int kSide = 68;

    QPixmap thumbnail(const FileMessage& file);
    // Forgets the pictures of files no longer listed.
    void keepOnly(const std::vector<FileMessage>& files);

    // The picture of a file read and scaled to fit kSide × kSide; null when it cannot be read.
    static QPixmap scaledImage(const std::filesystem::path& path);
    // A video's first picture scaled to fit kSide × kSide; null when none can be read.
    static QPixmap videoStill(const std::filesystem::path& path);

private:
    // The image as a pixmap no larger than kSide × kSide, sharing no bytes with it.
    static QPixmap fitted(const QImage& image);
    static QPixmap make(const FileMessage& file);

    std::map<std::string, QPixmap> byId_;
};
