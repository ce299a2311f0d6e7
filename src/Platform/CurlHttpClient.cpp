#include "Platform/CurlHttpClient.h"

#include "Utils/Log.h"

#include <curl/curl.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr long kBufferSize = 512 * 1024;
constexpr const char* kScratchTemplate = ".pelkor-download-XXXXXX";
// With transfers running, curl's own timers (low-speed checks, time-outs) shorten the wait further.
constexpr int kBusyWaitMs = 1000;
// With none, only a request, a cancel or the end wakes the worker (each calls curl_multi_wakeup), so an
// idle program does not wake this thread every second.
constexpr int kIdleWaitMs = 24 * 3600 * 1000;

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// True when curl reads the whole text as a URL and its scheme is one we fetch.
bool isFetchableURL(const std::string& url)
{
    CURLU* parsed = curl_url();
    if (!parsed)
        return false;
    char* scheme = nullptr;
    const bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
                    curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                    (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0);
    curl_free(scheme);
    curl_url_cleanup(parsed);
    return ok;
}

// curl counts the low-speed time in whole seconds.
long lowSpeedSeconds(const HttpTransferLimits& limits) { return std::max(1L, static_cast<long>(limits.lowSpeedTime.count())); }

HttpDownloadResult failure(Error why)
{
    HttpDownloadResult result;
    result.error = std::move(why);
    return result;
}

Error clientError(HttpClient::ErrorCode code, std::string text)
{
    return Error{HttpClient::kErrorDomain, code, std::move(text)};
}

// Which time limit ended the transfer: with no connection made, the connect time-out; after it, the
// low-speed check (the only other time limit set).
std::string timeoutText(CURL* easy, const HttpTransferLimits& limits, std::chrono::milliseconds connectTimeout)
{
    curl_off_t connected = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0)
        return "no connection within " + std::to_string(connectTimeout.count()) + " ms";
    return "slower than " + std::to_string(limits.lowSpeedLimit) + " bytes a second over "
           + std::to_string(lowSpeedSeconds(limits)) + " s";
}

} // namespace

struct CurlHttpClient::Transfer {
    TransferId id = 0;
    CURL* easy = nullptr;
    int fd = -1;
    std::optional<HttpDownloadedFile> scratch;
    Progress progress;
    Completion completion;
    HttpTransferLimits limits;
    uint64_t bytes = 0;
    long status = 0;
    bool refusedStatus = false;
    // The body grew past its cap (curl itself refuses an announced length past it).
    bool passedCap = false;
    int writeErrno = 0;
    char errorText[CURL_ERROR_SIZE] = {};

    ~Transfer()
    {
        if (fd != -1)
            ::close(fd);
        if (easy)
            curl_easy_cleanup(easy);
    }

    // libcurl's write callback: the body goes straight to the scratch file, unless the status says
    // there is no file to keep.
    static size_t write(char* data, size_t size, size_t count, void* context)
    {
        auto& self = *static_cast<Transfer*>(context);
        const size_t length = size * count;
        if (self.bytes == 0) {
            curl_easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &self.status);
            if (self.status < 200 || self.status > 299) {
                self.refusedStatus = true;
                return 0;
            }
        }
        if (length > self.limits.maxBytes - self.bytes) {
            self.passedCap = true;
            return 0;
        }
        for (size_t done = 0; done < length;) {
            const ssize_t n = ::write(self.fd, data + done, length - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                self.writeErrno = n < 0 ? errno : ENOSPC;
                return 0;
            }
            done += static_cast<size_t>(n);
        }
        self.bytes += length;
        return length;
    }

    static int progressed(void* context, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t)
    {
        auto& self = *static_cast<Transfer*>(context);
        if (self.progress && received > 0)
            self.progress(static_cast<uint64_t>(received), static_cast<uint64_t>(std::max<curl_off_t>(total, 0)));
        return 0;
    }
};

CurlHttpClient::CurlHttpClient() : CurlHttpClient(Options{}) {}

CurlHttpClient::CurlHttpClient(Options options) : options_(options)
{
    initialiseCurl();
    multi_ = curl_multi_init();
    if (!multi_) {
        PLOG("no curl multi handle: every download fails");
        return;
    }
    worker_ = std::thread([this] { run(); });
}

CurlHttpClient::~CurlHttpClient()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (!multi_)
        return;
    // From the worker's own calls the join below would never return.
    assert(std::this_thread::get_id() != worker_.get_id());
    curl_multi_wakeup(multi_);
    worker_.join();
    curl_multi_cleanup(multi_);
}

HttpClient::TransferId CurlHttpClient::download(const std::string& url, const std::filesystem::path& folder,
                                                const HttpTransferLimits& limits, Progress progress, Completion completion)
{
    if (!multi_) {
        completion(failure(clientError(NoHandle, "no curl multi handle")));
        return 0;
    }
    TransferId id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        requests_.push_back({id, url, folder, limits, std::move(progress), std::move(completion)});
    }
    curl_multi_wakeup(multi_);
    return id;
}

void CurlHttpClient::cancel(TransferId id)
{
    {
        std::lock_guard lock(mutex_);
        cancels_.push_back(id);
    }
    if (multi_)
        curl_multi_wakeup(multi_);
}

void CurlHttpClient::run()
{
    pthread_setname_np(pthread_self(), "http.client");
    for (;;) {
        takeRequests();
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && requests_.empty())
                break;
        }
        int running = 0;
        curl_multi_perform(multi_, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            void* id = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &id);
            finish(static_cast<TransferId>(reinterpret_cast<uintptr_t>(id)), message->data.result);
        }
        curl_multi_poll(multi_, nullptr, 0, transfers_.empty() ? kIdleWaitMs : kBusyWaitMs, nullptr);
    }
    // Whatever still runs ends as cancelled.
    while (!transfers_.empty())
        finish(transfers_.begin()->first, CURLE_ABORTED_BY_CALLBACK);
}

void CurlHttpClient::takeRequests()
{
    std::vector<Request> requests;
    std::vector<TransferId> cancels;
    bool stopping;
    {
        std::lock_guard lock(mutex_);
        requests.swap(requests_);
        cancels.swap(cancels_);
        stopping = stopping_;
    }
    for (auto& request : requests) {
        if (stopping)
            request.completion(failure(clientError(Cancelled, "cancelled")));
        else
            start(std::move(request));
    }
    for (const TransferId id : cancels) {
        if (transfers_.count(id))
            finish(id, CURLE_ABORTED_BY_CALLBACK);
    }
}

void CurlHttpClient::start(Request request)
{
    auto failed = [&](Error why) {
        PLOG("download of %s refused: %s", request.url.c_str(), why.description.c_str());
        request.completion(failure(std::move(why)));
    };
    if (!isFetchableURL(request.url))
        return failed(clientError(RefusedURL, "not an http or https URL"));

    auto transfer = std::make_unique<Transfer>();
    std::string scratch = (request.folder / kScratchTemplate).string();
    transfer->fd = ::mkostemp(scratch.data(), O_CLOEXEC);
    if (transfer->fd == -1)
        return failed(Error::posix(errno, "cannot make a file in the folder"));
    transfer->scratch.emplace(scratch);
    transfer->limits = request.limits;
    transfer->easy = curl_easy_init();
    if (!transfer->easy)
        return failed(clientError(NoHandle, "no curl handle"));
    transfer->id = request.id;
    transfer->progress = std::move(request.progress);
    transfer->completion = std::move(request.completion);

    CURL* easy = transfer->easy;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    const HttpTransferLimits& limits = request.limits;
    if (limits.lowSpeedLimit != 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits.lowSpeedLimit));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds(limits));
    }
    if (limits.maxBytes <= static_cast<uint64_t>(std::numeric_limits<curl_off_t>::max()))
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    if (!options_.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, options_.caFile.c_str());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorText);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::progressed);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, transfer->progress ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<uintptr_t>(request.id)));
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK)
        return failed(clientError(NoHandle, "the transfer cannot start"));
    transfers_.emplace(request.id, std::move(transfer));
}

void CurlHttpClient::finish(TransferId id, int code)
{
    const auto found = transfers_.find(id);
    if (found == transfers_.end())
        return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    transfers_.erase(found);
    curl_multi_remove_handle(multi_, transfer->easy);

    HttpDownloadResult result;
    result.bytes = transfer->bytes;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &result.status);
    const bool closed = ::close(transfer->fd) == 0;
    transfer->fd = -1;
    if (code == CURLE_ABORTED_BY_CALLBACK)
        result.error = clientError(Cancelled, "cancelled");
    else if (transfer->passedCap || code == CURLE_FILESIZE_EXCEEDED)
        result.error = clientError(TooLarge, std::string(transfer->passedCap ? "the body" : "the announced body")
                                                 + " is larger than its cap of " + std::to_string(transfer->limits.maxBytes) + " bytes");
    else if (code == CURLE_OPERATION_TIMEDOUT)
        result.error = clientError(TooSlow, timeoutText(transfer->easy, transfer->limits, options_.connectTimeout));
    else if (transfer->refusedStatus || (code == CURLE_OK && (result.status < 200 || result.status > 299)))
        result.error = clientError(RefusedStatus, "HTTP status " + std::to_string(result.status));
    else if (transfer->writeErrno != 0)
        result.error = Error::posix(transfer->writeErrno, "cannot write the file");
    else if (code != CURLE_OK)
        result.error = Error{kCurlDomain, static_cast<long>(code),
                             transfer->errorText[0] ? transfer->errorText : curl_easy_strerror(static_cast<CURLcode>(code))};
    else if (!closed)
        result.error = Error::posix(errno, "cannot write the file");
    else
        result.file = std::move(transfer->scratch);
    Completion completion = std::move(transfer->completion);
    transfer.reset();
    completion(std::move(result));
}
