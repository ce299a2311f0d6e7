#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

struct FileShareOffer;
struct TransferProgress;

// What the TV's file offers show: the offer window with its countdown, and the result window. The
// view holds the texts (the TV's name beside the file count, the STRING_ formats). Main thread.
class FileOfferView {
public:
    virtual ~FileOfferView() = default;

    // Brings up the offer window for the offer's files (its count, and each usable file's name and
    // size), `secondsRemaining` to answer, and hides the result window.
    virtual void showFileShareWindow(const FileShareOffer& offer, int64_t secondsRemaining) = 0;
    virtual void showCountdown(int64_t secondsRemaining) = 0;
    virtual void hideFileShareWindow() = 0;
    // The accepted offer's downloads in the offer window, kept open from the answer to the result in
    // place of the answer buttons: each file's bytes received and the sums.
    virtual void showDownloadProgress(const TransferProgress& downloads) = 0;
    // Says that an offer was declined because nobody answered it in time.
    virtual void showOfferTimedOut() = 0;
    // The result of one offer: the "stored and failed" text when stored > 0, with the details button
    // enabled; else the "all failed" text with it disabled.
    virtual void showDownloadResult(int stored, int failed) = 0;
    virtual void hideDownloadSuccessWindow() = 0;
    // Opens a file viewer on the folder; false when none could be opened.
    virtual bool openFolder(const std::filesystem::path& folder) = 0;
};
