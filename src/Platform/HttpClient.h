#pragma once

#include "Platform/HttpDownload.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>

// What one transfer may take; the owner of the transfer chooses the figures (LimitedDownloads). Past
// either it fails with an error that says which, and its scratch file is removed.
struct HttpTransferLimits {
    // The largest body accepted, announced or received (the maximum: none).
    uint64_t maxBytes = std::numeric_limits<uint64_t>::max();
    // A transfer that moves fewer bytes a second than this, over lowSpeedTime, fails (0: never). The
    // time counts whole seconds, at least one.
    uint64_t lowSpeedLimit = 0;
    std::chrono::seconds lowSpeedTime{0};
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

    // Starts fetching `url` into a scratch file of `folder`, within `limits`. A URL that does not parse,
    // or whose scheme is not http or https, completes at once as a failure. Only a complete body with a
    // 2xx status yields a file. `progress` may be empty.
    virtual TransferId download(const std::string& url, const std::filesystem::path& folder, const HttpTransferLimits& limits,
                                Progress progress, Completion completion) = 0;
    // Ends the transfer: it completes as a failure ("cancelled") unless it has completed already.
    virtual void cancel(TransferId id) = 0;
};
