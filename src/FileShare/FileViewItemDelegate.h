#pragma once

#include "FileShare/FileMessage.h"

// What a tile of the file panel reports: its file ticked or unticked, or a file chosen on the add tile.
// Main thread.
class FileViewItemDelegate {
public:
    virtual ~FileViewItemDelegate() = default;

    virtual void selectFile(const FileMessage& file) = 0;
    virtual void unselectFile(const FileMessage& file) = 0;
    virtual void addFile(FileMessage file) = 0;
};
