#pragma once

#include "Platform/HttpClient.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

// Downloads through an HttpClient held to limits, for bodies a peer chooses the size and pace of: a
// few run at once and the others wait their turn; each is cut off when its announced or received size
// passes its cap (the caller's cap, and never past the free space of its folder's disk less a
// margin), when it goes slower than a rate over a window, or when nothing arrives for a while. A cut
// transfer completes as a failure that says why (logged) and leaves no file. The client enforces the
// cap and the pace (HttpTransferLimits); the wait, the free space and the idle time are watched here.
//
// Threads: every method is safe from any thread. Progress and completion calls come on the HTTP
// client's thread (a wait cancelled before it started completes on the cancelling thread); the idle
// checks run on the serial queue "http.limits". Completions may come after this object has gone; they
// never touch it, nor the client: the destruction waits for every use of the client under way, so
// the owner's hold is the last (the client's end on its own thread would wait for itself).
class LimitedDownloads {
public:
    using TransferId = HttpClient::TransferId;
    using FreeSpace = std::function<std::optional<uint64_t>(const std::filesystem::path& folder)>;

    struct Limits {
        // Transfers at once; later ones wait.
        size_t maxAtOnce = 4;
        // The body's cap; a larger announced size is refused as soon as it is known.
        uint64_t maxBytes = std::numeric_limits<uint64_t>::max();
        // Left free on the folder's disk: a body never takes the disk below this.
        uint64_t freeSpaceMargin = uint64_t{256} << 20;
        // Slower than this many bytes a second over the window (whole seconds, rounded up), the transfer
        // is cut; 0: never.
        uint64_t minBytesPerSecond = 1024;
        std::chrono::milliseconds lowSpeedWindow{30'000};
        // Nothing received for this long (from the start, too), the transfer is cut.
        std::chrono::milliseconds idleTimeout{15'000};
        // The bytes free for the user on the disk of a folder; nullopt when it cannot be told. Empty:
        // statvfs.
        FreeSpace freeSpace;
    };

    // The owner holds the client for as long as this object lives.
    LimitedDownloads(const std::shared_ptr<HttpClient>& client, Limits limits);
    // Cancels every transfer, running or waiting; their completions still come.
    ~LimitedDownloads();
    LimitedDownloads(const LimitedDownloads&) = delete;
    LimitedDownloads& operator=(const LimitedDownloads&) = delete;

    // Like HttpClient::download, within the limits.
    TransferId download(const std::string& url, const std::filesystem::path& folder, HttpClient::Progress progress,
                        HttpClient::Completion completion);
    void cancel(TransferId id);

    // The bytes free for the user on the disk of the folder (statvfs); nullopt when it cannot be told.
    static std::optional<uint64_t> freeSpaceOf(const std::filesystem::path& folder);

private:
    struct Core;
    const std::shared_ptr<Core> core_;
};
