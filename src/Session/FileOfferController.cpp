#include "Session/FileOfferController.h"

#include "FileShare/DownloadFolder.h"
#include "FileShare/OfferURL.h"
#include "Platform/DispatchTimer.h"
#include "Platform/MainQueue.h"
#include "Platform/ProgressRelay.h"
#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Session/FileOfferView.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cassert>
#include <chrono>

// One accepted offer: its own counters and progress, held by each of its downloads.
struct FileOfferController::Download {
    size_t total = 0;
    int stored = 0;
    int failed = 0;
    std::optional<DownloadFolder> folder;
    // One entry per file fetched (the first kMaxOfferEntries usable ones), in the offer's order.
    TransferProgress progress;
};

FileOfferController::FileOfferController(FileOfferView& view, Services services)
    : view_(view), services_(std::move(services)),
      downloads_(std::make_unique<LimitedDownloads>(services_.http, services_.limits)),
      self_(std::make_shared<FileOfferController*>(this))
{
    assert(mainThread_.holds());
}

FileOfferController::~FileOfferController()
{
    assert(mainThread_.holds());
    self_.reset();
    downloads_.reset();
}

void FileOfferController::tvShareFile2pc(const std::string& json)
{
    guard_.post([this, json] { offerArrived(json); });
}

void FileOfferController::offerArrived(const std::string& json)
{
    assert(mainThread_.holds());
    PLOG("recv file message");
    if (waiting_) {
        PLOG("file offer ignored: an earlier offer still waits for the answer");
        return;
    }
    const std::vector<uint8_t> payload(json.begin(), json.end());
    waiting_ = FileShareOffer::decode(payload).value_or(FileShareOffer{});
    secondsRemaining_ = kAnswerSeconds;
    // The window asks about this offer now; an earlier one's downloads run on unseen.
    shown_.reset();
    view_.showFileShareWindow(*waiting_, secondsRemaining_);
    countdownTimer_ = std::make_unique<DispatchTimer>(MainQueue::shared(), [this] { updateCountdown(); });
    countdownTimer_->start(std::chrono::seconds(1), std::chrono::seconds(1));
}

void FileOfferController::updateCountdown()
{
    --secondsRemaining_;
    view_.showCountdown(secondsRemaining_);
    if (secondsRemaining_ >= 1)
        return;
    rejectFileShare();
    view_.showOfferTimedOut();
}

void FileOfferController::endCountdown()
{
    // The timer may be the caller: DispatchTimer allows a handler to destroy its own timer.
    countdownTimer_.reset();
}

void FileOfferController::rejectFileShare()
{
    assert(mainThread_.holds());
    if (!waiting_)
        return;
    waiting_.reset();
    endCountdown();
    view_.hideFileShareWindow();
    services_.send(kMsgFileShareReject, {});
}

void FileOfferController::endSession(SessionEnd end)
{
    assert(mainThread_.holds());
    if (end != SessionEnd::Link || !waiting_)
        return;
    PLOG("the TV's file offer dropped: the link ended before the answer");
    waiting_.reset();
    endCountdown();
    view_.hideFileShareWindow();
}

void FileOfferController::agreeFileShare()
{
    assert(mainThread_.holds());
    if (!waiting_)
        return;
    const FileShareOffer offer = std::move(*waiting_);
    waiting_.reset();
    endCountdown();
    services_.send(kMsgFileShareAccept, Int32Payload{static_cast<int32_t>(offer.fileCount())}.encode());

    auto download = std::make_shared<Download>();
    download->total = offer.fileCount();
    if (const auto folder = services_.downloadFolder())
        download->folder.emplace(*folder);
    else
        PLOG("no download folder: every offered file fails");
    // Entries that name no file fail at once; an offer with nothing to fetch completes at once.
    download->failed = static_cast<int>(offer.unusableFiles);
    if (offer.files.empty()) {
        view_.hideFileShareWindow();
        finishIfDone(download);
        return;
    }
    if (offer.files.size() > kMaxOfferEntries) {
        PLOG("file offer of %zu entries: the first %zu are fetched, the other %zu count as failed", offer.files.size(),
             kMaxOfferEntries, offer.files.size() - kMaxOfferEntries);
        download->failed += static_cast<int>(offer.files.size() - kMaxOfferEntries);
    }
    // Only the files fetched show their progress: the others are failures of the result.
    const size_t fetched = std::min(offer.files.size(), kMaxOfferEntries);
    for (size_t index = 0; index < fetched; ++index) {
        const auto& file = offer.files[index];
        download->progress.files.push_back({.id = std::to_string(index), .name = file.name, .size = file.size});
    }
    shown_ = download;
    view_.showDownloadProgress(download->progress);
    const std::string base = OfferURL::replaceConnectURL(offer.url, services_.tvAddress().value_or(""));
    for (size_t index = 0; index < fetched; ++index) {
        const auto& file = offer.files[index];
        startDownload(download, index, OfferURL::fileURL(base, file.id), DownloadFolder::safeName(file.name, index + 1));
    }
}

void FileOfferController::startDownload(const std::shared_ptr<Download>& offer, size_t index, const std::string& url,
                                        std::string name)
{
    if (!offer->folder) {
        countFile(offer, index, false);
        return;
    }
    const std::weak_ptr weak(self_);
    auto relay = ProgressRelay::create(MainQueue::shared(), [weak, offer, index](uint64_t received, uint64_t size) {
        if (const auto self = weak.lock())
            (*self)->progressed(offer, index, received, size);
    });
    // Progress and completion come on the client's thread; the result (which owns the body) moves to the
    // main queue.
    auto progress = [relay](uint64_t received, uint64_t size) { relay->report(received, size); };
    auto completion = [weak, offer, index, name, relay](HttpDownloadResult result) {
        auto shared = std::make_shared<HttpDownloadResult>(std::move(result));
        MainQueue::shared()->async([weak, offer, index, name, shared, relay] {
            // The end may come before the last count's delivery: the size is known all the same.
            if (const uint64_t size = relay->stop().size; size > 0)
                offer->progress.files[index].size = size;
            if (const auto self = weak.lock())
                (*self)->downloaded(offer, index, name, *shared);
        });
    };
    downloads_->download(url, offer->folder->path(), std::move(progress), std::move(completion));
}

void FileOfferController::progressed(const std::shared_ptr<Download>& offer, size_t index, uint64_t received,
                                     uint64_t size)
{
    TransferProgress::File& file = offer->progress.files[index];
    file.state = TransferProgress::State::Moving;
    file.done = received;
    if (size > 0)
        file.size = size;
    if (shown_.lock() == offer)
        view_.showDownloadProgress(offer->progress);
}

void FileOfferController::downloaded(const std::shared_ptr<Download>& offer, size_t index, const std::string& name,
                                     HttpDownloadResult& result)
{
    bool stored = false;
    if (!result.file)
        PLOG("%s download failed with error: %s", name.c_str(), result.error ? result.error->description.c_str() : "?");
    else
        stored = offer->folder->store(*result.file, name).has_value();
    if (stored)
        offer->progress.files[index].done = result.bytes;
    countFile(offer, index, stored);
}

void FileOfferController::countFile(const std::shared_ptr<Download>& offer, size_t index, bool stored)
{
    offer->progress.files[index].state = stored ? TransferProgress::State::Done : TransferProgress::State::Failed;
    if (stored) {
        ++offer->stored;
        services_.send(kMsgFileShareFileDone, {});
    } else {
        ++offer->failed;
    }
    if (shown_.lock() == offer)
        view_.showDownloadProgress(offer->progress);
    finishIfDone(offer);
}

void FileOfferController::finishIfDone(const std::shared_ptr<Download>& offer)
{
    if (static_cast<size_t>(offer->stored + offer->failed) < offer->total)
        return;
    PLOG("files download completion, success num = %d, fail num = %d", offer->stored, offer->failed);
    // The result takes the place of the progress it ends.
    if (shown_.lock() == offer) {
        shown_.reset();
        view_.hideFileShareWindow();
    }
    view_.showDownloadResult(offer->stored, offer->failed);
    services_.send(kMsgFileShareComplete, {});
}

void FileOfferController::closeDownloadSuccessWindow()
{
    view_.hideDownloadSuccessWindow();
}

void FileOfferController::openDownloadDetails()
{
    const auto folder = services_.downloadFolder();
    view_.hideDownloadSuccessWindow();
    if (!folder || !view_.openFolder(*folder))
        PLOG("Failed to open details:%s", folder ? folder->c_str() : "(no download folder)");
}
