#pragma once

#include "FileShare/FileMessage.h"
#include "FileShare/FileViewItemDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class DispatchQueue;
class FilePanelView;
class FileServer;

// The file panel's rules: the files chosen so far, the ticks, deleting and pushing. Pushing copies each
// ticked file into the shared folder on a task of its own and announces it to the TV (kMsgFilePush with
// a FileShareList) once its copy is in place; a copy that fails is not announced.
//
// Threads: made, used and destroyed on the main thread (asserted). The push tasks run on the work
// queue ("fileCopyQueue", two at a time on threads of its own) and touch only the file server and the
// sender.
class FileCollectionView final : public FileViewItemDelegate {
public:
    struct Services {
        // Must outlive every push task (FileServer::sharedManager() lives for the whole process).
        FileServer* server = nullptr;
        // Sends one kMsgFilePush payload to the TV. Any thread (a push task's).
        std::function<void(std::vector<uint8_t> payload)> sendFilePush;
        // Where the copies run; null: "fileCopyQueue".
        std::shared_ptr<DispatchQueue> workQueue;
    };

    FileCollectionView(FilePanelView& view, Services services);
    ~FileCollectionView() override;
    FileCollectionView(const FileCollectionView&) = delete;
    FileCollectionView& operator=(const FileCollectionView&) = delete;

    // The grid: the add tile, then the files.
    size_t numberOfItems() const { return fileArray_.size() + 1; }
    const std::vector<FileMessage>& fileArray() const { return fileArray_; }
    const std::vector<FileMessage>& selectArray() const { return selectArray_; }

    // FileViewItemDelegate
    void selectFile(const FileMessage& file) override;
    void unselectFile(const FileMessage& file) override;
    void addFile(FileMessage file) override;

    // A file chosen on the add tile: made a FileMessage with an id used by no listed file and no copy
    // in the shared folder, then added.
    void selectFileCallBack(const std::filesystem::path& path);
    // The delete button: the ticked files leave the list and their copies the shared folder.
    void deleteFile();
    // The push button.
    void pushFile();
    // Empties the panel (the file window opens afresh).
    void cleanUploadFile();

private:
    // Every reload clears the ticks.
    void reloadGrid();
    bool idInUse(std::string_view fileId) const;

    FilePanelView& view_;
    const Services services_;
    ThreadAffinity mainThread_;
    std::vector<FileMessage> fileArray_;
    std::vector<FileMessage> selectArray_;
    // The replace question's answer holds it weakly: once the panel is gone, OK does nothing.
    std::shared_ptr<FileCollectionView*> self_;
};
