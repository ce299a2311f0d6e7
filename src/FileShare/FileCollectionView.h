#pragma once

#include "FileShare/FileMessage.h"
#include "FileShare/FileViewItemDelegate.h"
#include "FileShare/TransferProgress.h"
#include "Utils/ThreadAffinity.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DispatchQueue;
class FilePanelView;
class FileServer;
class ProgressRelay;

// The file panel's rules: the files chosen so far, the ticks, deleting and pushing. Pushing copies each
// ticked file into the shared folder on a task of its own and announces it to the TV (kMsgFilePush with
// a FileShareList) once its copy is in place; a copy that fails is not announced. The push's progress
// (the bytes each copy has written, the files done and failed) shows in the view until the panel is
// emptied; a push started once the last one has ended starts the count afresh.
//
// Threads: made, used and destroyed on the main thread (asserted). The push tasks run on the work
// queue ("fileCopyQueue", two at a time on threads of its own) and touch only the file server, the
// sender and their copy's ProgressRelay, which brings the bytes to the main queue at most ten times a
// second; each copy's end comes to the main queue too.
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
    // Empties the panel (the file window opens afresh); copies under way run on, unseen.
    void cleanUploadFile();
    const TransferProgress& pushProgress() const { return push_; }

private:
    // Every reload clears the ticks.
    void reloadGrid();
    bool idInUse(std::string_view fileId) const;
    // Main thread: a copy's bytes so far, and its end.
    void copyProgressed(const std::string& fileId, uint64_t copied, uint64_t size);
    void copyEnded(const std::string& fileId, bool copied);

    FilePanelView& view_;
    const Services services_;
    ThreadAffinity mainThread_;
    std::vector<FileMessage> fileArray_;
    std::vector<FileMessage> selectArray_;
    TransferProgress push_;
    // The relay of each copy under way, by file id: stopped at its end, so no late count overwrites it.
    std::map<std::string, std::shared_ptr<ProgressRelay>> copying_;
    // The replace question's answer and the copies' reports hold it weakly: once the panel is gone,
    // they do nothing.
    std::shared_ptr<FileCollectionView*> self_;
};
