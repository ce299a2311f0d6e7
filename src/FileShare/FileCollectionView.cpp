#include "FileShare/FileCollectionView.h"

#include "FileShare/FilePanelView.h"
#include "FileShare/FileServer.h"
#include "Platform/FixedWidthQueue.h"
#include "Platform/MainQueue.h"
#include "Platform/ProgressRelay.h"
#include "Socket/FileShareList.h"
#include "Utils/LocalizedText.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <optional>

namespace {

bool sameFile(const FileMessage& a, const FileMessage& b)
{
    return a.fileId == b.fileId;
}

// Two copies at a time, on threads of their own: a copy reads, protects and writes a whole file, which
// would hold the shared pool's workers from the short tasks they serve (capture ticks, HTTP requests).
// Two, so a small file need not wait for a large one, without making the disk seek between many.
std::shared_ptr<DispatchQueue> fileCopyQueue()
{
    // Never destroyed: a copy may still run while static objects are torn down at exit.
    static const auto* const queue = new std::shared_ptr<FixedWidthQueue>(FixedWidthQueue::create("fileCopyQueue", 2));
    return *queue;
}

} // namespace

FileCollectionView::FileCollectionView(FilePanelView& view, Services services)
    : view_(view), services_(std::move(services)), self_(std::make_shared<FileCollectionView*>(this))
{
    assert(mainThread_.holds());
    assert(services_.server);
}

FileCollectionView::~FileCollectionView()
{
    assert(mainThread_.holds());
}

void FileCollectionView::selectFile(const FileMessage& file)
{
    assert(mainThread_.holds());
    selectArray_.push_back(file);
    view_.setButtonsEnabled(true);
}

void FileCollectionView::unselectFile(const FileMessage& file)
{
    assert(mainThread_.holds());
    std::erase_if(selectArray_, [&](const FileMessage& ticked) { return sameFile(ticked, file); });
    view_.setButtonsEnabled(!selectArray_.empty());
}

void FileCollectionView::addFile(FileMessage file)
{
    assert(mainThread_.holds());
    const auto sameName = [name = file.fileName](const FileMessage& listed) { return listed.fileName == name; };
    if (std::none_of(fileArray_.begin(), fileArray_.end(), sameName)) {
        fileArray_.push_back(std::move(file));
        reloadGrid();
        return;
    }
    // The listed file is looked up again at the answer: the list may have changed meanwhile.
    view_.askToReplace([weak = std::weak_ptr(self_), file = std::move(file), sameName] {
        const auto self = weak.lock();
        if (!self)
            return;
        auto& panel = **self;
        std::erase_if(panel.fileArray_, sameName);
        panel.fileArray_.push_back(file);
        panel.reloadGrid();
    });
}

void FileCollectionView::selectFileCallBack(const std::filesystem::path& path)
{
    addFile(FileMessage::fromPath(path, [this](std::string_view id) { return idInUse(id); }));
}

bool FileCollectionView::idInUse(std::string_view fileId) const
{
    if (std::any_of(fileArray_.begin(), fileArray_.end(), [&](const FileMessage& file) { return file.fileId == fileId; }))
        return true;
    // A replaced file's copy stays in the shared folder under its id.
    const auto copy = services_.server->getUploadPathWithDir(FileServer::kSharedFolderName, fileId);
    std::error_code error;
    return copy && std::filesystem::exists(*copy, error);
}

void FileCollectionView::deleteFile()
{
    assert(mainThread_.holds());
    for (const auto& ticked : selectArray_) {
        std::erase_if(fileArray_, [&](const FileMessage& file) { return sameFile(file, ticked); });
        services_.server->removeFileByName(ticked.fileId);
    }
    reloadGrid();
}

void FileCollectionView::pushFile()
{
    assert(mainThread_.holds());
    const auto base = services_.server->getShareFileBaseURL();
    if (!base) {
        PLOG("files not pushed: the shared-folder server has no URL");
        view_.showPushFailure(LocalizedText::text("STRING_PUSH_NO_SERVER"));
        return;
    }
    PLOG("pushing %zu file(s) to the TV", selectArray_.size());
    // A push once the last one has ended counts afresh.
    if (push_.unfinished() == 0)
        push_.files.clear();
    const auto queue = services_.workQueue ? services_.workQueue : fileCopyQueue();
    const std::weak_ptr weak(self_);
    for (const auto& file : selectArray_) {
        if (copying_.contains(file.fileId)) {
            PLOG("%s is still being copied for the TV: not pushed again meanwhile", file.fileName.c_str());
            continue;
        }
        TransferProgress::File* entry = push_.find(file.fileId);
        if (!entry)
            entry = &push_.files.emplace_back();
        *entry = TransferProgress::File{.id = file.fileId, .name = file.fileName, .size = std::nullopt};
        auto relay = ProgressRelay::create(MainQueue::shared(), [weak, id = file.fileId](uint64_t copied, uint64_t size) {
            if (const auto self = weak.lock())
                (*self)->copyProgressed(id, copied, size);
        });
        copying_.emplace(file.fileId, relay);
        // On the work queue: the copy blocks this task only.
        queue->async([server = services_.server, send = services_.sendFilePush, file, base = *base, relay, weak] {
            const bool copied = server
                                    ->uploadFile(file.filePath, FileServer::kSharedFolderName, file.fileId,
                                                 [&relay](uint64_t bytes, uint64_t size) { relay->report(bytes, size); })
                                    .has_value();
            if (copied)
                send(FileShareList{base, file.fileId, file.fileName}.encode());
            MainQueue::shared()->async([weak, id = file.fileId, copied] {
                if (const auto self = weak.lock())
                    (*self)->copyEnded(id, copied);
            });
        });
    }
    reloadGrid();
    view_.showPushProgress(push_);
}

void FileCollectionView::copyProgressed(const std::string& fileId, uint64_t copied, uint64_t size)
{
    TransferProgress::File* entry = push_.find(fileId);
    if (!entry)
        return;
    // A line at each quarter passed, at most three a file: enough to follow a long copy in the log.
    const int quarter = TransferProgress::permille(copied, size) / 250;
    if (quarter > TransferProgress::permille(entry->done, size) / 250 && quarter < 4)
        PLOG("%s: %d%% copied for the TV", entry->name.c_str(), quarter * 25);
    entry->state = TransferProgress::State::Moving;
    entry->done = copied;
    entry->size = size;
    view_.showPushProgress(push_);
}

void FileCollectionView::copyEnded(const std::string& fileId, bool copied)
{
    std::optional<ProgressRelay::Counts> last;
    if (const auto relay = copying_.find(fileId); relay != copying_.end()) {
        last = relay->second->stop();
        copying_.erase(relay);
    }
    TransferProgress::File* entry = push_.find(fileId);
    if (!entry)
        return;
    // The end may come before the last count's delivery: the size is known all the same.
    if (last && last->size > 0)
        entry->size = last->size;
    entry->state = copied ? TransferProgress::State::Done : TransferProgress::State::Failed;
    view_.showPushProgress(push_);
}

void FileCollectionView::cleanUploadFile()
{
    assert(mainThread_.holds());
    fileArray_.clear();
    push_.files.clear();
    reloadGrid();
    view_.showPushProgress(push_);
}

void FileCollectionView::reloadGrid()
{
    selectArray_.clear();
    view_.setButtonsEnabled(false);
    view_.reloadData();
}
