#pragma once

#include "Platform/HttpDownload.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// What one transfer may take. Past any of these it fails with an error that says which, and its
// scratch file is removed.
struct HttpTransferLimits {
    // The largest body accepted; pass the size the peer offered where it is known (0: none beyond the
    // free space).
    uint64_t maxBytes = 0;
    // The whole transfer, connection included, must end within this (0: no deadline). An hour covers
    // a large file at LAN speeds many times over.
    std::chrono::milliseconds deadline{std::chrono::hours(1)};
    // A transfer that moves fewer bytes a second than this, over lowSpeedTime, fails (0: none).
    uint64_t lowSpeedLimit = 1024;
    std::chrono::seconds lowSpeedTime{30};
    // Free space the folder must keep beyond the body, checked before the transfer and while it writes.
    uint64_t reserveBytes = uint64_t{64} << 20;
};

// Fetches URLs with HTTP GET, streaming each body into a scratch file of a given folder. Several
// transfers run at once; each ends with exactly one completion. Every method is safe from any thread.
// Progress and completion calls come on the client's own thread (CurlHttpClient: its worker), one at a
// time; they may start and cancel transfers, but never destroy the client or wait for a thread that does.
class HttpClient {
public:
    using TransferId = uint64_t;
    // Bytes received so far and the announced total (0 when unknown).
    using Progress = std::function<void(uint64_t received, uint64_t total)>;
    using Completion = std::function<void(HttpDownloadResult result)>;

    // The domain of the client's own errors (HttpDownloadResult::error), beside curl's and the POSIX one.
    static constexpr const char* kErrorDomain = "HttpClientErrorDomain";
    enum ErrorCode : long { Cancelled = 1, RefusedURL = 2, RefusedStatus = 3, NoHandle = 4, TooLarge = 5, NoSpace = 6, TooSlow = 7 };
    // curl's result codes, with curl's text.
    static constexpr const char* kCurlDomain = "CurlErrorDomain";

    virtual ~HttpClient() = default;

    // Starts fetching `url` into a scratch file of `folder`. A URL that does not parse, or whose
    // scheme is not http or https, completes at once as a failure. Only a complete body with a 2xx
    // status yields a file. `progress` may be empty.
    virtual TransferId download(const std::string& url, const std::filesystem::path& folder, Progress progress,
                                Completion completion) = 0;
    // The same within `limits`. Clients that enforce limits override it; this default (for stand-ins
    // in tests) fetches as the form above does.
    virtual TransferId download(const std::string& url, const std::filesystem::path& folder, const HttpTransferLimits& limits,
                                Progress progress, Completion completion)
    {
        (void)limits;
        return download(url, folder, std::move(progress), std::move(completion));
    }
    // Ends the transfer: it completes as a failure ("cancelled") unless it has completed already.
    virtual void cancel(TransferId id) = 0;
};
