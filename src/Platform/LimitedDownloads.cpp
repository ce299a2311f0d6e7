#include "Platform/LimitedDownloads.h"

#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Utils/Log.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The free space is read again after each this many bytes of a body.
constexpr uint64_t kFreeSpaceCheckBytes = uint64_t{1} << 20;

Error limitError(HttpClient::ErrorCode code, std::string why)
{
    return Error{HttpClient::kErrorDomain, code, std::move(why)};
}

HttpDownloadResult failure(Error why)
{
    HttpDownloadResult result;
    result.error = std::move(why);
    return result;
}

HttpDownloadResult cancelled()
{
    return failure(limitError(HttpClient::Cancelled, "cancelled"));
}

// Whether the client ended the transfer at the cap or the pace it was handed.
bool cutByClient(const HttpDownloadResult& result)
{
    return result.error && result.error->domain == HttpClient::kErrorDomain &&
           (result.error->code == HttpClient::TooLarge || result.error->code == HttpClient::TooSlow);
}

std::string seconds(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

} // namespace

struct LimitedDownloads::Core : std::enable_shared_from_this<Core> {
    struct Request {
        TransferId id = 0;
        std::string url;
        fs::path folder;
        HttpClient::Progress progress;
        HttpClient::Completion completion;
    };
    struct Running {
        Request request;
        std::optional<HttpClient::TransferId> clientId;
        uint64_t received = 0;
        uint64_t freeCheckedAt = 0;
        Clock::time_point lastByte;
        // Why it was cut; none while it runs on.
        std::optional<Error> cut;
    };

    Core(const std::shared_ptr<HttpClient>& httpClient, Limits downloadLimits)
        : client(httpClient), limits(std::move(downloadLimits)), queue(SerialQueue::create("http.limits"))
    {
        if (!limits.freeSpace)
            limits.freeSpace = &LimitedDownloads::freeSpaceOf;
        limits.maxAtOnce = std::max<size_t>(limits.maxAtOnce, 1);
    }

    // Any thread, without the mutex.
    void startWaiting()
    {
        for (;;) {
            Request request;
            {
                std::lock_guard lock(mutex);
                if (closed || waiting.empty() || running.size() + starting >= limits.maxAtOnce)
                    return;
                request = std::move(waiting.front());
                waiting.pop_front();
                ++starting;
            }
            begin(std::move(request));
        }
    }

    // Any thread, without the mutex: the client may complete at once, inside download(). The client
    // holds the body to its cap and the pace; the idle time and the free space while it writes are
    // watched here.
    void begin(Request request)
    {
        HttpTransferLimits held;
        held.lowSpeedLimit = limits.minBytesPerSecond;
        // Whole seconds, rounded up, so a window is never shortened.
        held.lowSpeedTime = std::chrono::ceil<std::chrono::seconds>(limits.lowSpeedWindow);
        held.maxBytes = limits.maxBytes;
        if (const auto free = limits.freeSpace(request.folder)) {
            if (*free <= limits.freeSpaceMargin) {
                {
                    std::lock_guard lock(mutex);
                    --starting;
                }
                const std::string why = "the disk of " + request.folder.string() + " has no more than " +
                                        std::to_string(limits.freeSpaceMargin) + " bytes free";
                PLOG("download of %s refused: %s", request.url.c_str(), why.c_str());
                request.completion(failure(limitError(HttpClient::NoSpace, why)));
                return;
            }
            held.maxBytes = std::min(held.maxBytes, *free - limits.freeSpaceMargin);
        }
        const TransferId id = request.id;
        const std::string url = request.url;
        const fs::path folder = request.folder;
        {
            std::unique_lock lock(mutex);
            --starting;
            if (closed) {
                lock.unlock();
                request.completion(cancelled());
                return;
            }
            Running& entry = running[id];
            entry.request = std::move(request);
            entry.lastByte = Clock::now();
            if (!ticking) {
                ticking = true;
                timer->start(tick(), tick());
            }
        }
        const std::weak_ptr<Core> weak = weak_from_this();
        const bool started = withClient([&](HttpClient& http) {
            const HttpClient::TransferId clientId = http.download(
                url, folder, held,
                [weak, id](uint64_t received, uint64_t total) {
                    if (const auto core = weak.lock())
                        core->progressed(id, received, total);
                },
                [self = shared_from_this(), id](HttpDownloadResult result) { self->completed(id, std::move(result)); });
            std::optional<HttpClient::TransferId> cancelNow;
            {
                std::lock_guard lock(mutex);
                const auto found = running.find(id);
                if (found != running.end()) {
                    found->second.clientId = clientId;
                    if (found->second.cut)
                        cancelNow = clientId;
                }
            }
            if (cancelNow)
                http.cancel(*cancelNow);
        });
        if (!started)
            completed(id, cancelled());
    }

    // Any thread, without the mutex: runs `use` with the client unless the core is closed. close()
    // waits until no `use` runs, so the owner's hold on the client is the last one after it.
    bool withClient(const std::function<void(HttpClient&)>& use)
    {
        std::shared_ptr<HttpClient> http;
        {
            std::lock_guard lock(mutex);
            if (closed)
                return false;
            http = client.lock();
            ++users;
        }
        const bool held = http != nullptr;
        if (held)
            use(*http);
        http.reset();
        std::lock_guard lock(mutex);
        if (--users == 0)
            unused.notify_all();
        return held;
    }

    void cancelAtClient(HttpClient::TransferId clientId)
    {
        withClient([clientId](HttpClient& http) { http.cancel(clientId); });
    }

    // With the mutex held: marks the transfer cut; the client's id to cancel, once known.
    std::optional<HttpClient::TransferId> cutLocked(Running& entry, HttpClient::ErrorCode code, const std::string& why,
                                                    bool log)
    {
        if (entry.cut)
            return std::nullopt;
        entry.cut = limitError(code, why);
        if (log)
            PLOG("download of %s cut: %s", entry.request.url.c_str(), why.c_str());
        return entry.clientId;
    }

    // The HTTP client's thread.
    void progressed(TransferId id, uint64_t received, uint64_t total)
    {
        std::optional<HttpClient::TransferId> cancelNow;
        HttpClient::Progress forward;
        {
            std::lock_guard lock(mutex);
            const auto found = running.find(id);
            if (found == running.end() || found->second.cut)
                return;
            Running& entry = found->second;
            if (received > entry.received)
                entry.lastByte = Clock::now();
            entry.received = std::max(entry.received, received);
            if (entry.received - entry.freeCheckedAt >= kFreeSpaceCheckBytes) {
                entry.freeCheckedAt = entry.received;
                const auto free = limits.freeSpace(entry.request.folder);
                if (free && *free < limits.freeSpaceMargin)
                    cancelNow = cutLocked(entry, HttpClient::NoSpace, "its disk has less than " + std::to_string(limits.freeSpaceMargin) +
                                                     " bytes free", true);
            }
            if (!entry.cut)
                forward = entry.request.progress;
        }
        if (cancelNow)
            cancelAtClient(*cancelNow);
        if (forward)
            forward(received, total);
    }

    // The HTTP client's thread (or inside download()).
    void completed(TransferId id, HttpDownloadResult result)
    {
        HttpClient::Completion completion;
        {
            std::lock_guard lock(mutex);
            const auto found = running.find(id);
            if (found == running.end())
                return;
            if (found->second.cut) {
                result.file.reset();
                result.error = found->second.cut;
            } else if (cutByClient(result)) {
                PLOG("download of %s cut: %s", found->second.request.url.c_str(), result.error->description.c_str());
            }
            completion = std::move(found->second.request.completion);
            running.erase(found);
            if (running.empty() && ticking) {
                ticking = false;
                timer->cancel();
            }
        }
        startWaiting();
        completion(std::move(result));
    }

    // "http.limits".
    void checkIdle()
    {
        std::vector<HttpClient::TransferId> cancels;
        {
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            for (auto& [id, entry] : running) {
                if (entry.cut || now - entry.lastByte < limits.idleTimeout)
                    continue;
                if (const auto cancelNow = cutLocked(entry, HttpClient::TooSlow, "nothing came for " + seconds(limits.idleTimeout), true))
                    cancels.push_back(*cancelNow);
            }
        }
        for (const auto clientId : cancels)
            cancelAtClient(clientId);
    }

    Clock::duration tick() const
    {
        return std::clamp<Clock::duration>(limits.idleTimeout / 4, std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    }

    // The owner's thread, which holds the client.
    void close()
    {
        std::deque<Request> dropped;
        std::vector<HttpClient::TransferId> cancels;
        {
            std::unique_lock lock(mutex);
            closed = true;
            unused.wait(lock, [this] { return users == 0; });
            dropped.swap(waiting);
            for (auto& [id, entry] : running) {
                if (const auto clientId = cutLocked(entry, HttpClient::Cancelled, "cancelled", false))
                    cancels.push_back(*clientId);
            }
            ticking = false;
            timer->cancel();
        }
        if (const auto http = client.lock()) {
            for (const auto clientId : cancels)
                http->cancel(clientId);
        }
        for (auto& request : dropped)
            request.completion(cancelled());
    }

    // Held by the owner, never here: the last hold on this core may go on the client's own thread,
    // where the client's end would wait for itself.
    const std::weak_ptr<HttpClient> client;
    Limits limits;
    const std::shared_ptr<SerialQueue> queue;
    std::unique_ptr<DispatchTimer> timer;

    std::mutex mutex;
    // Threads using the client now; close() waits for none.
    size_t users = 0;
    std::condition_variable unused;
    TransferId nextId = 1;
    std::deque<Request> waiting;
    std::map<TransferId, Running> running;
    // Taken from the waiting line, not yet running: they count against the limit at once.
    size_t starting = 0;
    bool ticking = false;
    bool closed = false;
};

LimitedDownloads::LimitedDownloads(const std::shared_ptr<HttpClient>& client, Limits limits)
    : core_(std::make_shared<Core>(client, std::move(limits)))
{
    core_->timer = std::make_unique<DispatchTimer>(core_->queue, [weak = std::weak_ptr<Core>(core_)] {
        if (const auto core = weak.lock())
            core->checkIdle();
    });
}

LimitedDownloads::~LimitedDownloads()
{
    core_->close();
}

LimitedDownloads::TransferId LimitedDownloads::download(const std::string& url, const fs::path& folder,
                                                        HttpClient::Progress progress, HttpClient::Completion completion)
{
    TransferId id = 0;
    bool closed = false;
    {
        std::lock_guard lock(core_->mutex);
        id = core_->nextId++;
        closed = core_->closed;
        if (!closed)
            core_->waiting.push_back({id, url, folder, std::move(progress), std::move(completion)});
    }
    if (closed) {
        completion(cancelled());
        return id;
    }
    core_->startWaiting();
    return id;
}

void LimitedDownloads::cancel(TransferId id)
{
    std::optional<Core::Request> dropped;
    std::optional<HttpClient::TransferId> cancelNow;
    {
        std::lock_guard lock(core_->mutex);
        auto& waiting = core_->waiting;
        const auto queued = std::find_if(waiting.begin(), waiting.end(), [id](const auto& r) { return r.id == id; });
        if (queued != waiting.end()) {
            dropped = std::move(*queued);
            waiting.erase(queued);
        } else if (const auto found = core_->running.find(id); found != core_->running.end()) {
            cancelNow = core_->cutLocked(found->second, HttpClient::Cancelled, "cancelled", false);
        }
    }
    if (cancelNow)
        core_->cancelAtClient(*cancelNow);
    if (dropped)
        dropped->completion(cancelled());
}

std::optional<uint64_t> LimitedDownloads::freeSpaceOf(const fs::path& folder)
{
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
}
