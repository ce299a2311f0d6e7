#pragma once

#include "Platform/HttpClient.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// HttpClient on libcurl: one worker thread drives every transfer through one curl multi handle, so many
// downloads share a thread and the connection cache. Bodies are written to the scratch file as they
// arrive; a body of a status outside 2xx is not written at all. Each transfer is held to its limits: a
// body past its cap fails as soon as that is known (from the announced length, or as it grows), as does
// one below the low-speed limit; both, and a connection not made in time, fail with the client's own
// codes. Proxies from the environment are not used: the peers are on the local network.
class CurlHttpClient final : public HttpClient {
public:
    struct Options {
        std::chrono::milliseconds connectTimeout{10'000};
        // Certificates that https peers are checked against; empty: the system's store.
        std::string caFile;
    };

    CurlHttpClient();
    explicit CurlHttpClient(Options options);
    // Transfers still running complete as cancelled, on the worker, before it is joined. Never from a
    // progress or completion call.
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    TransferId download(const std::string& url, const std::filesystem::path& folder, const HttpTransferLimits& limits,
                        Progress progress, Completion completion) override;
    void cancel(TransferId id) override;

private:
    struct Transfer;
    struct Request {
        TransferId id;
        std::string url;
        std::filesystem::path folder;
        HttpTransferLimits limits;
        Progress progress;
        Completion completion;
    };

    // On the worker.
    void run();
    void start(Request request);
    void finish(TransferId id, int code);
    void takeRequests();

    const Options options_;
    void* multi_ = nullptr;  // CURLM

    std::mutex mutex_;
    TransferId nextId_ = 1;              // under mutex_
    std::vector<Request> requests_;      // under mutex_: not yet handed to the worker
    std::vector<TransferId> cancels_;    // under mutex_
    bool stopping_ = false;              // under mutex_

    std::map<TransferId, std::unique_ptr<Transfer>> transfers_;  // worker only
    std::thread worker_;
};
