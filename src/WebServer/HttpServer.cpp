#include "WebServer/HttpServer.h"

#include "Platform/GlobalQueue.h"
#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "WebServer/HttpServerAuthenticator.h"
#include "WebServer/HttpServerAvahiService.h"
#include "WebServer/HttpServerConnection.h"
#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileReply.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerFolder.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/HttpServerNATPortMapping.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <netinet/in.h>
#include <regex.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// How long accepting rests when the process or system is out of descriptors.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr int kAcceptBatch = 64;
constexpr auto kMinimumSweep = std::chrono::milliseconds(10);
constexpr auto kMaximumSweep = std::chrono::milliseconds(1000);

std::string urlWithHost(const std::string& host, uint16_t port)
{
    return port == 80 ? "http://" + host + "/" : "http://" + host + ":" + std::to_string(port) + "/";
}

// The groups 1..n that took part in every match of the path, in order; nullopt without a match.
std::optional<std::vector<std::string>> regexCaptures(const regex_t& expression, const std::string& path)
{
    constexpr size_t kMaxGroups = 16;
    std::vector<std::string> captures;
    bool matched = false;
    size_t offset = 0;
    while (offset <= path.size()) {
        regmatch_t groups[kMaxGroups];
        const int flags = offset > 0 ? REG_NOTBOL : 0;
        if (regexec(&expression, path.c_str() + offset, kMaxGroups, groups, flags) != 0)
            break;
        matched = true;
        for (size_t group = 1; group < kMaxGroups; ++group) {
            if (groups[group].rm_so >= 0)
                captures.emplace_back(path, offset + static_cast<size_t>(groups[group].rm_so),
                    static_cast<size_t>(groups[group].rm_eo - groups[group].rm_so));
        }
        // An empty match moves on by one character so the search always ends.
        offset += static_cast<size_t>(std::max<regoff_t>(groups[0].rm_eo, groups[0].rm_so + 1));
    }
    if (!matched)
        return std::nullopt;
    return captures;
}

// The write end of the pipe through which a stop signal wakes runWithOptions; -1 while none runs.
std::atomic<int> gStopSignalPipe{-1};

void stopSignalReceived(int)
{
    const int savedErrno = errno;
    const int fd = gStopSignalPipe.load();
    if (fd >= 0) {
        const char byte = 0;
        (void)!::write(fd, &byte, 1);
    }
    // Ends the line that a terminal's "^C" began.
    (void)!::write(STDOUT_FILENO, "\n", 1);
    errno = savedErrno;
}

// The listener whose accept handler runs on this thread: stop() must not wait there for the handler to
// return, as it does when the last reference to the server goes inside that handler.
thread_local const void* tAcceptingOn = nullptr;

class AcceptingMark {
public:
    explicit AcceptingMark(const void* listener) : previous_(std::exchange(tAcceptingOn, listener)) {}
    ~AcceptingMark() { tAcceptingOn = previous_; }
    AcceptingMark(const AcceptingMark&) = delete;
    AcceptingMark& operator=(const AcceptingMark&) = delete;

private:
    const void* previous_;
};

bool isDescriptorShortage(int code) { return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM; }

// The listing of the folder; nullptr when it cannot be read.
std::shared_ptr<HttpServerResponse> directoryListing(const HttpServerFolderPath& path)
{
    const HttpServerDescriptor directory = path.openFolder();
    std::vector<std::string> names;
    if (!directory.isOpen() || !HttpServerFolder::list(directory.get(), names))
        return nullptr;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    for (const std::string& entry : names) {
        struct stat info {};
        if (entry[0] == '.' || ::fstatat(directory.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
            entries.emplace_back(entry, S_ISDIR(info.st_mode));
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return strcasecmp(a.first.c_str(), b.first.c_str()) < 0; });
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n<ul>\n";
    for (const auto& [entry, isFolder] : entries) {
        const std::string link = HttpServerFunctions::escapeURLString(entry) + (isFolder ? "/" : "");
        html += "<li><a href=\"" + link + "\">" + HttpServerFunctions::escapeHTML(entry) + (isFolder ? "/" : "") + "</a></li>\n";
    }
    html += "</ul>\n</body></html>\n";
    return HttpServerDataResponse::responseWithHTML(html);
}

// The file, or the byte range of it that the request asks for when ranges are allowed; a range
// that selects nothing of an existing file answers 416, any other failure nullptr.
std::shared_ptr<HttpServerResponse> fileResponse(const std::string& filePath, const HttpServerRequest& request, bool isAttachment,
    bool allowRangeRequests)
{
    auto response = HttpServerFileReply::make(filePath, allowRangeRequests ? request.byteRange() : HttpServerByteRange{}, isAttachment);
    if (response && allowRangeRequests && response->statusCode() < 300)
        response->setValueForAdditionalHeader("Accept-Ranges", "bytes");
    return response;
}

}  // namespace

struct HttpServer::Listener {
    int fd = -1;
    const char* name = "";
    std::unique_ptr<DispatchSource> source;
    // Shared with the cancel handler, which may run after the listener (and the server) are gone.
    std::shared_ptr<std::promise<void>> closed = std::make_shared<std::promise<void>>();
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() { stop(); }

// ---- Handlers ----

void HttpServer::addHandler(MatchBlock matchBlock, AsyncProcessBlock processBlock)
{
    handlers_.insert(handlers_.begin(), std::make_shared<HttpServerHandler>(std::move(matchBlock), std::move(processBlock)));
}

HttpServer::AsyncProcessBlock HttpServer::synchronous(ProcessBlock processBlock)
{
    return [processBlock = std::move(processBlock)](std::shared_ptr<HttpServerRequest> request, HttpServerHandler::Completion completion) {
        completion(processBlock(std::move(request)));
    };
}

void HttpServer::removeAllHandlers() { handlers_.clear(); }

void HttpServer::addDefaultHandlerForMethod(const std::string& method, RequestFactory factory, AsyncProcessBlock processBlock)
{
    addHandler(
        [method, factory = std::move(factory)](const std::string& requestMethod, const std::string& url, const HttpServerRequest::Headers& headers,
            const std::string& path, const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method)
                return nullptr;
            return factory(requestMethod, url, headers, path, query);
        },
        std::move(processBlock));
}

void HttpServer::addHandlerForMethod(const std::string& method, const std::string& path, RequestFactory factory, AsyncProcessBlock processBlock)
{
    if (path.empty() || path[0] != '/')
        return;
    addHandler(
        [method, path, factory = std::move(factory)](const std::string& requestMethod, const std::string& url,
            const HttpServerRequest::Headers& headers, const std::string& requestPath,
            const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method || strcasecmp(requestPath.c_str(), path.c_str()) != 0)
                return nullptr;
            return factory(requestMethod, url, headers, requestPath, query);
        },
        std::move(processBlock));
}

void HttpServer::addHandlerForMethodPathRegex(const std::string& method, const std::string& pathRegex, RequestFactory factory,
    AsyncProcessBlock processBlock)
{
    auto compiled = std::make_unique<regex_t>();
    if (regcomp(compiled.get(), pathRegex.c_str(), REG_EXTENDED | REG_ICASE) != 0) {
        HttpServerLog::log(HttpServerLog::Error, "Invalid path pattern '%s'", pathRegex.c_str());
        return;
    }
    const std::shared_ptr<regex_t> expression(compiled.release(), [](regex_t* pattern) {
        regfree(pattern);
        delete pattern;
    });
    addHandler(
        [method, expression, factory = std::move(factory)](const std::string& requestMethod, const std::string& url,
            const HttpServerRequest::Headers& headers, const std::string& path,
            const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method)
                return nullptr;
            const auto captures = regexCaptures(*expression, path);
            if (!captures)
                return nullptr;
            auto request = factory(requestMethod, url, headers, path, query);
            if (request)
                request->setAttribute(*captures, HttpServerRequest::kRegexCapturesAttribute);
            return request;
        },
        std::move(processBlock));
}

void HttpServer::addGETHandlerForPath(const std::string& path, std::vector<uint8_t> staticData, const std::string& contentType, uint64_t cacheAge)
{
    addHandlerForMethod("GET", path, requestFactory(),
        synchronous([staticData = std::move(staticData), contentType, cacheAge](std::shared_ptr<HttpServerRequest>) -> std::shared_ptr<HttpServerResponse> {
            auto response = HttpServerDataResponse::responseWithData(staticData, contentType);
            if (response)
                response->setCacheControlMaxAge(cacheAge);
            return response;
        }));
}

void HttpServer::addGETHandlerForPath(const std::string& path, const std::string& filePath, bool isAttachment, uint64_t cacheAge,
    bool allowRangeRequests)
{
    addHandlerForMethod("GET", path, requestFactory(),
        synchronous([filePath, isAttachment, cacheAge, allowRangeRequests](std::shared_ptr<HttpServerRequest> request) -> std::shared_ptr<HttpServerResponse> {
            auto response = fileResponse(filePath, *request, isAttachment, allowRangeRequests);
            if (response && response->statusCode() < 300)
                response->setCacheControlMaxAge(cacheAge);
            return response;
        }));
}

void HttpServer::addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath, const std::string& indexFilename,
    uint64_t cacheAge, bool allowRangeRequests)
{
    if (basePath.empty() || basePath.front() != '/' || basePath.back() != '/')
        return;
    addHandler(
        [basePath](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers, const std::string& path,
            const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (method != "GET" || path.compare(0, basePath.size(), basePath) != 0)
                return nullptr;
            return HttpServerRequest::create(method, url, headers, path, query);
        },
        synchronous([basePath, folder = std::make_shared<HttpServerFolder>(directoryPath), indexFilename, cacheAge, allowRangeRequests](
                        std::shared_ptr<HttpServerRequest> request) -> std::shared_ptr<HttpServerResponse> {
            const HttpServerFolderPath path = folder->resolve(std::string_view(request->path()).substr(basePath.size()));
            if (path.problem() == HttpServerFolderPath::Problem::Malformed)
                return HttpServerErrorResponse::responseWithClientError(400, "Invalid path \"" + request->path() + "\"");
            // Everything is reached through the parent's descriptor, so no link leads out of the folder.
            std::shared_ptr<HttpServerResponse> response;
            if (path.exists() && path.isFolder()) {
                const std::string indexPath = path.pinnedPath() + "/" + indexFilename;
                struct stat indexInfo {};
                if (!indexFilename.empty() && ::lstat(indexPath.c_str(), &indexInfo) == 0 && S_ISREG(indexInfo.st_mode))
                    return HttpServerFileResponse::responseWithFile(indexPath);
                response = directoryListing(path);
            } else if (path.exists()) {
                response = fileResponse(path.pinnedPath(), *request, false, allowRangeRequests);
                if (response && response->statusCode() >= 300)
                    return response;
            }
            if (!response)
                return HttpServerErrorResponse::responseWithClientError(404, "\"" + request->path() + "\" does not exist");
            response->setCacheControlMaxAge(cacheAge);
            return response;
        }));
}

// ---- Start and stop ----

bool HttpServer::start() { return startWithPort(8080, std::string()); }

bool HttpServer::startWithPort(uint16_t port, std::optional<std::string> bonjourName)
{
    Options options;
    options.port = port;
    options.bonjourName = std::move(bonjourName);
    return start(options);
}

bool HttpServer::start(const Options& options, HttpError* error)
{
    if (running_)
        return false;
    bindToLocalhost_ = options.bindToLocalhost;
    auto listener4 = listen(AF_INET, options.port, options.maxPendingConnections, error);
    if (!listener4)
        return false;
    const uint16_t port = options.port;
    const uint16_t boundPort = port != 0 ? port : [&listener4] {
        sockaddr_in address {};
        socklen_t length = sizeof(address);
        if (getsockname(listener4->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            const int code = errno;
            HttpServerLog::log(HttpServerLog::Error, "Failed retrieving socket address: %s (%i)", strerror(code), code);
            return uint16_t{0};
        }
        return ntohs(address.sin_port);
    }();
    HttpError error6;
    auto listener6 = listen(AF_INET6, boundPort, options.maxPendingConnections, &error6);
    if (!listener6) {
        const bool noIPv6 = error6.code == EAFNOSUPPORT || error6.code == EADDRNOTAVAIL;
        if (!noIPv6) {
            ::close(listener4->fd);
            HttpError::assign(error, error6);
            return false;
        }
        HttpServerLog::log(HttpServerLog::Warning, "IPv6 is not available: serving IPv4 only");
    }

    serverName_ = options.serverName.empty() ? className() : options.serverName;
    if (!HttpServerFunctions::isValidHeaderValue(serverName_))
        serverName_ = className();
    authenticator_.reset();
    if (options.authenticationMethod == "Basic" || options.authenticationMethod == "DigestAccess") {
        authenticationRealm_ = options.authenticationRealm.empty() ? serverName_ : options.authenticationRealm;
        authenticator_ = std::make_unique<HttpServerAuthenticator>(options.authenticationMethod == "Basic"
                                                                       ? HttpServerAuthenticator::Method::Basic
                                                                       : HttpServerAuthenticator::Method::Digest,
            authenticationRealm_, options.authenticationAccounts);
    }
    connectionFactory_ = options.connectionFactory;
    mapHEADToGET_ = options.automaticallyMapHEADToGET;
    disconnectDelay_ = options.connectedStateCoalescingInterval;
    idleTimeout_ = options.idleTimeout;
    maxRequestBodyLength_ = options.maxRequestBodyLength;
    requestHeadTimeout_ = options.requestHeadTimeout;
    port_ = boundPort;
    running_ = true;

    for (Listener* listener : {listener4.get(), listener6.get()}) {
        if (listener == nullptr)
            continue;
        const std::weak_ptr<HttpServer> weak = weak_from_this();
        listener->source = DispatchSource::create(
            listener->fd, DispatchSource::Kind::Read, GlobalQueue::shared(),
            [weak, listener] {
                // Set before `self` is taken, so it is still set if the server ends when `self` goes.
                const AcceptingMark mark(listener);
                if (const auto self = weak.lock())
                    self->accept(*listener);
            },
            [fd = listener->fd, name = listener->name, closed = listener->closed] {
                if (::close(fd) != 0) {
                    const int code = errno;
                    HttpServerLog::log(HttpServerLog::Error, "Failed closing %s listening socket: %s (%i)", name, strerror(code), code);
                }
                closed->set_value();
            });
    }
    if (options.bonjourName) {
        const std::weak_ptr<HttpServer> weak = weak_from_this();
        const std::string name = options.bonjourName->empty() ? serverName_ : *options.bonjourName;
        const std::string type = options.bonjourType.empty() ? "_http._tcp" : options.bonjourType;
        bonjour_ = HttpServerAvahiService::publish(name, type, boundPort, [weak](const std::string&) {
            MainQueue::shared()->async([weak] {
                const auto self = weak.lock();
                if (!self || !self->running_)
                    return;
                const auto url = self->bonjourServerURL();
                HttpServerLog::log(HttpServerLog::Info, "%s now locally reachable at %s", self->className().c_str(), url ? url->c_str() : "");
                if (const auto delegate = self->delegate())
                    delegate->webServerDidCompleteBonjourRegistration(*self);
            });
        });
    }
    if (options.requestNATPortMapping)
        startNATPortMapping(boundPort);
    {
        const std::lock_guard lock(connectionsMutex_);
        maxConnections_ = options.maxConnections;
        shortOfDescriptors_ = false;
        listener4_ = std::move(listener4);
        listener6_ = std::move(listener6);
        updateAccepting();
    }
    const auto url = serverURL();
    HttpServerLog::log(HttpServerLog::Info, "%s started on port %i and reachable at %s", className().c_str(), port_.load(),
        url ? url->c_str() : "(no address)");
    notifyDelegate(&HttpServerDelegate::webServerDidStart);
    return true;
}

std::unique_ptr<HttpServer::Listener> HttpServer::listen(int family, uint16_t port, int backlog, HttpError* error)
{
    auto listener = std::make_unique<Listener>();
    listener->name = family == AF_INET ? "IPv4" : "IPv6";
    auto fail = [&](const char* what) -> std::unique_ptr<Listener> {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Failed %s %s listening socket: %s (%i)", what, listener->name, strerror(code), code);
        HttpError::assign(error, HttpError::posix(code));
        if (listener->fd >= 0)
            ::close(listener->fd);
        return nullptr;
    };
    listener->fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener->fd < 0)
        return fail("creating");
    const int on = 1;
    setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    int result;
    if (family == AF_INET) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(bindToLocalhost_ ? INADDR_LOOPBACK : INADDR_ANY);
        result = ::bind(listener->fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } else {
        // Without this the IPv6 socket also claims the IPv4 port and one of the two binds fails.
        if (setsockopt(listener->fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on)) != 0)
            return fail("configuring");
        sockaddr_in6 address {};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = bindToLocalhost_ ? in6addr_loopback : in6addr_any;
        result = ::bind(listener->fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
    if (result != 0)
        return fail("binding");
    if (::listen(listener->fd, backlog) != 0)
        return fail("starting");
    return listener;
}

void HttpServer::stop()
{
    if (!running_)
        return;
    running_ = false;
    natPortMapping_.reset();
    {
        const std::lock_guard lock(dnsMutex_);
        dnsAddress_.clear();
        dnsPort_ = 0;
    }
    bonjour_.reset();
    std::unique_ptr<Listener> listeners[2];
    {
        const std::lock_guard lock(connectionsMutex_);
        listeners[0] = std::move(listener6_);
        listeners[1] = std::move(listener4_);
    }
    for (const auto& listener : listeners) {
        if (!listener)
            continue;
        if (listener->source) {
            auto closed = listener->closed->get_future();
            listener->source->cancel();
            // Inside its own accept handler the socket closes once that handler returns.
            if (tAcceptingOn != listener.get())
                closed.wait();
        } else {
            ::close(listener->fd);
        }
    }
    port_ = 0;
    const std::weak_ptr<HttpServer> weak = weak_from_this();
    MainQueue::shared()->async([weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (self->disconnectTimer_) {
            self->disconnectTimer_.reset();
            self->didDisconnect();
        }
    });
    HttpServerLog::log(HttpServerLog::Info, "%s stopped", className().c_str());
    notifyDelegate(&HttpServerDelegate::webServerDidStop);
}

void HttpServer::startNATPortMapping(uint16_t port)
{
    // On the mapping's queue. `this` stays valid: stop() destroys the mapping, which waits for a
    // callback under way, before the server goes. The class name is taken now, while it is safe to.
    auto updated = [this, name = className()](const HttpServerNATPortMapping::Result& result) {
        {
            const std::lock_guard lock(dnsMutex_);
            dnsAddress_ = result.error == 0 ? result.address : std::string();
            dnsPort_ = result.error == 0 ? result.port : 0;
        }
        if (result.error != 0) {
            HttpServerLog::log(HttpServerLog::Error, "DNS service error %i", result.error);
        } else {
            const auto url = publicServerURL();
            HttpServerLog::log(HttpServerLog::Info, "%s now publicly reachable at %s", name.c_str(), url ? url->c_str() : "(no address)");
        }
        notifyDelegate(&HttpServerDelegate::webServerDidUpdateNATPortMapping);
    };
    int error = 0;
    natPortMapping_ = HttpServerNATPortMapping::create(port, std::move(updated), &error);
    if (!natPortMapping_)
        HttpServerLog::log(HttpServerLog::Error, "Failed creating NAT port mapping (%i)", error);
}

// ---- Running in the foreground ----

bool HttpServer::runWithPort(uint16_t port, std::optional<std::string> bonjourName)
{
    Options options;
    options.port = port;
    options.bonjourName = std::move(bonjourName);
    return runWithOptions(options);
}

// A handler rather than sigwait: a process-directed signal goes to any thread that does not block it,
// and threads of the pool or of libraries may exist before this is called. The handler only writes
// to a pipe, which a source on the main queue reads.
bool HttpServer::runWithOptions(const Options& options, HttpError* error)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        HttpError::assign(error, HttpError::posix(errno));
        return false;
    }
    const auto closePipe = [&] {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    };
    int none = -1;
    if (!gStopSignalPipe.compare_exchange_strong(none, pipeFds[1])) {
        HttpServerLog::log(HttpServerLog::Error, "A server already runs in the foreground");
        closePipe();
        HttpError::assign(error, HttpError::posix(EBUSY));
        return false;
    }
    struct sigaction action {};
    action.sa_handler = stopSignalReceived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
    bool installed = sigaction(SIGINT, &action, &previousInterrupt) == 0;
    if (installed && sigaction(SIGTERM, &action, &previousTerminate) != 0) {
        sigaction(SIGINT, &previousInterrupt, nullptr);
        installed = false;
    }
    if (!installed) {
        HttpError::assign(error, HttpError::posix(errno));
        gStopSignalPipe = -1;
        closePipe();
        return false;
    }

    const auto loop = std::make_shared<RunLoop>();
    MainQueue::install(loop);
    const int wakeFd = pipeFds[0];
    // Runs on the main queue, that is on this thread.
    const auto stopSource = DispatchSource::create(wakeFd, DispatchSource::Kind::Read, MainQueue::shared(), [wakeFd, loop] {
        char bytes[16];
        while (::read(wakeFd, bytes, sizeof(bytes)) > 0) {
        }
        loop->quit();
    });
    const bool started = stopSource && start(options, error);
    if (started) {
        stopSource->resume();
        loop->run();
        stopSource->cancel();
        stop();
    } else if (!stopSource) {
        HttpError::assign(error, HttpError::posix(EBADF));
    }
    // What stopping posted (the delegate's calls) still runs here, before the loop goes.
    loop->post([loop] { loop->quit(); });
    loop->run();
    MainQueue::install(nullptr);

    sigaction(SIGTERM, &previousTerminate, nullptr);
    sigaction(SIGINT, &previousInterrupt, nullptr);
    gStopSignalPipe = -1;
    closePipe();
    return started;
}

// ---- Accepting ----

// Takes the whole backlog at once, up to a bound that keeps one listener from holding its thread:
// a readiness event per connection would cost a hand-off per connection.
void HttpServer::accept(Listener& listener)
{
    for (int i = 0; i < kAcceptBatch && acceptOne(listener); ++i) {
    }
}

bool HttpServer::acceptOne(Listener& listener)
{
    {
        const std::lock_guard lock(connectionsMutex_);
        if (atConnectionCap())
            return false;
    }
    sockaddr_storage remote {};
    socklen_t remoteLength = sizeof(remote);
    const int socket = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
        const int code = errno;
        if (code == EINTR || code == ECONNABORTED)
            return true;
        if (code == EAGAIN || code == EWOULDBLOCK)
            return false;
        HttpServerLog::log(HttpServerLog::Error, "Failed accepting %s socket: %s (%i)", listener.name, strerror(code), code);
        if (isDescriptorShortage(code))
            pauseAcceptingForDescriptors();
        return false;
    }
    sockaddr_storage local {};
    socklen_t localLength = sizeof(local);
    std::vector<uint8_t> localData;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
        localData.assign(reinterpret_cast<const uint8_t*>(&local), reinterpret_cast<const uint8_t*>(&local) + localLength);
    std::vector<uint8_t> remoteData(reinterpret_cast<const uint8_t*>(&remote), reinterpret_cast<const uint8_t*>(&remote) + remoteLength);
    const auto self = shared_from_this();
    const auto connection = connectionFactory_ ? connectionFactory_(self, socket, std::move(localData), std::move(remoteData))
                                               : std::make_shared<HttpServerConnection>(self, socket, std::move(localData), std::move(remoteData));
    if (connection)
        connection->start();
    else
        ::close(socket);
    return true;
}

// The pending connection stays queued while descriptors are short: a level-triggered source would
// otherwise spin on it. Accepting resumes after a short rest.
void HttpServer::pauseAcceptingForDescriptors()
{
    {
        const std::lock_guard lock(connectionsMutex_);
        shortOfDescriptors_ = true;
        updateAccepting();
    }
    GlobalQueue::shared()->asyncAfter(kAcceptPause, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        const std::lock_guard lock(self->connectionsMutex_);
        self->shortOfDescriptors_ = false;
        self->updateAccepting();
    });
}

bool HttpServer::atConnectionCap() const { return maxConnections_ != 0 && connections_.size() >= maxConnections_; }

// Connections past the cap wait in the listen backlog, neither refused nor dropped, until one ends.
void HttpServer::updateAccepting()
{
    const bool accepting = !shortOfDescriptors_ && !atConnectionCap();
    for (const auto* listener : {listener4_.get(), listener6_.get()}) {
        if (listener == nullptr || !listener->source)
            continue;
        if (accepting)
            listener->source->resume();
        else
            listener->source->suspend();
    }
}

// ---- Connection count ----

void HttpServer::willStartConnection(HttpServerConnection& connection)
{
    std::lock_guard lock(connectionsMutex_);
    if (connections_.empty()) {
        MainQueue::shared()->async([weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self)
                return;
            self->disconnectTimer_.reset();
            if (!self->connected_) {
                self->connected_ = true;
                self->notifyDelegate(&HttpServerDelegate::webServerDidConnect);
            }
        });
        if (!idleSweep_) {
            idleSweep_ = std::make_unique<DispatchTimer>(GlobalQueue::shared(), [weak = weak_from_this()] {
                if (const auto self = weak.lock())
                    self->endStalledConnections();
            });
        }
        // A connection is ended between one and one and a quarter time-outs after its deadline.
        const auto shortest = std::min(idleTimeout_, requestHeadTimeout_);
        const auto interval = std::clamp<std::chrono::milliseconds>(shortest / 4, kMinimumSweep, kMaximumSweep);
        idleSweep_->start(interval, interval);
    }
    connections_.insert(&connection);
    updateAccepting();
}

void HttpServer::didEndConnection(HttpServerConnection& connection)
{
    std::lock_guard lock(connectionsMutex_);
    connections_.erase(&connection);
    updateAccepting();
    if (!connections_.empty())
        return;
    idleSweep_->cancel();
    MainQueue::shared()->async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (self->disconnectDelay_.count() <= 0 || !self->running_) {
            self->didDisconnect();
            return;
        }
        self->disconnectTimer_ = std::make_unique<DispatchTimer>(MainQueue::shared(), [weak = self->weak_from_this()] {
            const auto server = weak.lock();
            if (!server)
                return;
            server->didDisconnect();
            MainQueue::shared()->async([weak] {
                if (const auto again = weak.lock())
                    again->disconnectTimer_.reset();
            });
        });
        self->disconnectTimer_->start(self->disconnectDelay_);
    });
}

// One sweep over all connections instead of a timer per connection: a timer restarted on every read
// and write would cost more than the request it guards.
void HttpServer::endStalledConnections()
{
    const auto now = DispatchQueue::Clock::now();
    std::lock_guard lock(connectionsMutex_);
    for (HttpServerConnection* connection : connections_)
        connection->endIfStalled(now - idleTimeout_, now);
}

void HttpServer::didDisconnect()
{
    if (!connected_)
        return;
    connected_ = false;
    notifyDelegate(&HttpServerDelegate::webServerDidDisconnect);
}

void HttpServer::setDelegate(std::weak_ptr<HttpServerDelegate> delegate)
{
    const std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<HttpServerDelegate> HttpServer::delegate() const
{
    const std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

void HttpServer::notifyDelegate(void (HttpServerDelegate::*method)(HttpServer&))
{
    MainQueue::shared()->async([weak = weak_from_this(), method] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (const auto delegate = self->delegate())
            (delegate.get()->*method)(*self);
    });
}

// ---- URLs and authentication ----

std::optional<std::string> HttpServer::serverURL() const
{
    if (!running_)
        return std::nullopt;
    if (bindToLocalhost_)
        return urlWithHost("localhost", port_);
    const auto address = HttpServerFunctions::primaryNetworkAddress(false);
    if (!address)
        return std::nullopt;
    return urlWithHost(*address, port_);
}

std::optional<std::string> HttpServer::bonjourServerURL() const
{
    if (!running_ || !bonjour_)
        return std::nullopt;
    const auto host = bonjour_->hostName();
    if (!host || host->empty())
        return std::nullopt;
    return urlWithHost(*host, port_);
}

std::optional<std::string> HttpServer::publicServerURL() const
{
    if (!running_)
        return std::nullopt;
    const std::lock_guard lock(dnsMutex_);
    if (dnsAddress_.empty() || dnsPort_ == 0)
        return std::nullopt;
    return urlWithHost(dnsAddress_, dnsPort_);
}

std::shared_ptr<HttpServerResponse> HttpServer::authenticate(const HttpServerRequest& request, const std::string& method) const
{
    if (!authenticator_)
        return nullptr;
    return authenticator_->authenticate(method, request.URL(), request.headerValue("Authorization").value_or(std::string()));
}
