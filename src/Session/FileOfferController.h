#pragma once

#include "FileShare/TransferProgress.h"
#include "Platform/HttpClient.h"
#include "Platform/LimitedDownloads.h"
#include "Platform/MainQueueGuard.h"
#include "Session/SessionEnd.h"
#include "Socket/FileShareOffer.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DispatchTimer;
class FileOfferView;
class ProgressRelay;

// Files the TV offers: the offer window with its 10-second countdown, the answer, the downloads into
// the download folder with their progress in the offer window, the reports to the TV (the count taken,
// one FileDone per stored file, one Complete per offer) and the result window, which takes the offer
// window's place.
//
// Threads: made, used and destroyed on the main thread (asserted). The TV's offer (TvFileOfferDelegate)
// comes on the receive thread and moves to the main queue; the countdown ticks on the main queue;
// download progress and completions come on the HTTP client's thread and move to the main queue (the
// progress through a ProgressRelay per file, at most ten times a second), where the body gets its name. Each accepted offer keeps its own counters, so a later offer neither resets nor
// ends an earlier one that is still downloading; while one offer waits for its answer, new offers are
// ignored. Destruction cancels the downloads still running and waiting.
class FileOfferController final : public TvFileOfferDelegate {
public:
    struct Services {
        // Sends one message to the TV (TCPManager::sendType). Main thread.
        std::function<void(int type, std::vector<uint8_t> payload)> send;
        // The connected TV's address: the host the files are fetched from.
        std::function<std::optional<std::string>()> tvAddress;
        std::shared_ptr<HttpClient> http;
        // The folder files are stored in ("pelkor" in the user's download folder), made when absent;
        // nullopt when it cannot be made.
        std::function<std::optional<std::filesystem::path>()> downloadFolder;
        // The downloads' limits: four at once, cut when too slow or silent, never past the free space.
        LimitedDownloads::Limits limits;
    };

    static constexpr int64_t kAnswerSeconds = 10;
    // Entries of one offer that are fetched; those past it count as failed files. A TV shares a few
    // files at a time; a thousand covers a whole folder of pictures.
    static constexpr size_t kMaxOfferEntries = 1000;

    FileOfferController(FileOfferView& view, Services services);
    ~FileOfferController() override;
    FileOfferController(const FileOfferController&) = delete;
    FileOfferController& operator=(const FileOfferController&) = delete;

    // The offer's JSON text, on the receive thread.
    void tvShareFile2pc(const std::string& json) override;
    // The offer window's buttons; reject also ends the countdown.
    void rejectFileShare();
    void agreeFileShare();
    // The end-of-session step for the link: an offer still waiting for the answer is dropped, with
    // its window and countdown, and nothing is sent (the TV is gone). Downloads under way run on.
    void endSession(SessionEnd end);
    // The result window's buttons.
    void closeDownloadSuccessWindow();
    void openDownloadDetails();

    bool isWaitingForAnswer() const { return waiting_.has_value(); }

private:
    struct Download;
    // The offer, on the main thread.
    void offerArrived(const std::string& json);
    void updateCountdown();
    void endCountdown();
    void startDownload(const std::shared_ptr<Download>& offer, size_t index, const std::string& url, std::string name);
    void progressed(const std::shared_ptr<Download>& offer, size_t index, uint64_t received, uint64_t size);
    void downloaded(const std::shared_ptr<Download>& offer, size_t index, const std::string& name,
                    HttpDownloadResult& result);
    void countFile(const std::shared_ptr<Download>& offer, size_t index, bool stored);
    void finishIfDone(const std::shared_ptr<Download>& offer);

    FileOfferView& view_;
    const Services services_;
    ThreadAffinity mainThread_;
    // The offer waiting for the user's answer.
    std::optional<FileShareOffer> waiting_;
    int64_t secondsRemaining_ = 0;
    std::unique_ptr<DispatchTimer> countdownTimer_;
    // The accepted offer whose progress the offer window shows, until its result or the next offer.
    std::weak_ptr<Download> shown_;
    // Every offer's downloads, within their limits.
    std::unique_ptr<LimitedDownloads> downloads_;
    // Completions queued on the main queue hold it weakly: once it is gone, they do nothing.
    std::shared_ptr<FileOfferController*> self_;
    MainQueueGuard guard_;
};
