#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

// What a TV does with the files a client pushes: each kMsgFilePush announcement (a FileShareList) is
// fetched from the client's shared-folder server, "url/fileId", on the fetcher's own thread, one file
// at a time; opened as an EncryptedFrame with the session key it was announced under (taken as it
// stands without one); digested with SHA-256; and acknowledged with kMsgFilePushAck when it came whole.
class TvFileFetcher {
public:
    struct Fetched {
        std::string fileId;
        std::string fileName;
        std::string url;
        long status = 0;
        // Bytes of the opened file (the IV is not counted).
        uint64_t bytes = 0;
        // Lower-case hex SHA-256 of the opened file; empty when the fetch failed.
        std::string sha256;
        std::string error;  // empty when fetched whole with status 200
        double seconds = 0;
    };
    // Called on the fetcher's thread for each file fetched whole.
    using Acknowledge = std::function<void()>;
    // Called on the fetcher's thread for each file, fetched or not, before it is recorded.
    using Observer = std::function<void(const Fetched&)>;
    using Timeout = std::chrono::milliseconds;

    TvFileFetcher(Acknowledge acknowledge, Observer observer);
    ~TvFileFetcher();
    TvFileFetcher(const TvFileFetcher&) = delete;
    TvFileFetcher& operator=(const TvFileFetcher&) = delete;

    // Queues the announced files. A payload that is not a FileShareList is logged and dropped.
    void onFilePush(std::span<const uint8_t> payload, std::optional<std::vector<uint8_t>> key);
    std::vector<Fetched> fetched() const;
    bool waitForFetched(size_t count, Timeout timeout);

private:
    struct Job {
        std::string fileId;
        std::string fileName;
        std::string url;
        std::optional<std::vector<uint8_t>> key;
    };

    void run();
    Fetched fetch(const Job& job) const;

    const Acknowledge acknowledge_;
    const Observer observer_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;           // under mutex_
    std::vector<Fetched> fetched_;   // under mutex_
    bool stopping_ = false;          // under mutex_
    std::thread worker_;
};
