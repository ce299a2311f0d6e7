#pragma once

#include "Platform/DispatchSource.h"
#include "Platform/DispatchTimer.h"
#include "WebServer/HttpServerDelegate.h"
#include "WebServer/HttpServerHandler.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_set>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HttpServerAuthenticator;
class HttpServerAvahiService;
class HttpServerConnection;
class HttpServerNATPortMapping;

// A general HTTP/1.1 server: listens on one TCP port over IPv4 and IPv6 (IPv4 alone, with a warning,
// where the host has no IPv6), hands every accepted socket to a connection that serves one request,
// and picks the handler of a request from its list, the handler added last first. Keeps a count of
// open connections and reports connected / disconnected (the latter coalesced) to its delegate on the
// main queue, can publish itself over DNS-SD and ask the gateway for a NAT port mapping. Create it
// with std::make_shared; handlers are added before start().
class HttpServer : public std::enable_shared_from_this<HttpServer> {
public:
    using ConnectionFactory = std::function<std::shared_ptr<HttpServerConnection>(std::shared_ptr<HttpServer> server, int socket,
        std::vector<uint8_t> localAddressData, std::vector<uint8_t> remoteAddressData)>;
    using MatchBlock = HttpServerHandler::MatchBlock;
    using AsyncProcessBlock = HttpServerHandler::AsyncProcessBlock;
    using ProcessBlock = HttpServerHandler::ProcessBlock;
    // Makes the request object of a matched head (nullptr when the head frames no body consistently).
    using RequestFactory = MatchBlock;

    struct Options {
        uint16_t port = 0;  // 0: the kernel chooses; port() reports it
        bool bindToLocalhost = false;
        int maxPendingConnections = 16;
        std::string serverName;  // empty: className()
        std::string authenticationMethod;  // "Basic" or "DigestAccess"; anything else: none
        std::string authenticationRealm;  // empty: the server name
        std::map<std::string, std::string> authenticationAccounts;  // user name to password
        ConnectionFactory connectionFactory;  // empty: HttpServerConnection
        bool automaticallyMapHEADToGET = true;
        std::chrono::milliseconds connectedStateCoalescingInterval{1000};
        // Publication through the local Avahi daemon. nullopt: none; empty: under the server name.
        std::optional<std::string> bonjourName;
        std::string bonjourType = "_http._tcp";
        // Asks the default gateway (NAT-PMP) to map the same TCP port on its public address.
        bool requestNATPortMapping = false;
        // A connection that makes no progress for this long is closed.
        std::chrono::milliseconds idleTimeout{30000};
        // A request body past this many bytes is refused with 413 before it is stored.
        uint64_t maxRequestBodyLength = uint64_t{4} << 30;
        // A request head must arrive whole within this time of the connection's start, however steadily
        // its bytes trickle in.
        std::chrono::milliseconds requestHeadTimeout{30000};
        // Open connections past which accepting pauses until one ends (0: no cap).
        size_t maxConnections = 256;
    };

    HttpServer();
    virtual ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Labels the server's queue and is the default server name ("WebDavServer" in that subclass).
    virtual std::string className() const { return "HttpServer"; }

    void addHandler(MatchBlock matchBlock, AsyncProcessBlock processBlock);
    // A synchronous process closure as an asynchronous one that completes at once.
    static AsyncProcessBlock synchronous(ProcessBlock processBlock);
    void removeAllHandlers();
    const std::vector<std::shared_ptr<HttpServerHandler>>& handlers() const { return handlers_; }

    template <class Request = HttpServerRequest>
    static RequestFactory requestFactory()
    {
        return [](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers,
                   const std::string& path, const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            return HttpServerRequest::create<Request>(method, url, headers, path, query);
        };
    }
    // Every request of the method (case-sensitive).
    void addDefaultHandlerForMethod(const std::string& method, RequestFactory factory, AsyncProcessBlock processBlock);
    // The method and the path (ignoring case); ignored unless the path begins with "/".
    void addHandlerForMethod(const std::string& method, const std::string& path, RequestFactory factory, AsyncProcessBlock processBlock);
    // The method and a case-insensitive regular expression found in the path; the groups that took
    // part in each match go to the request attribute kRegexCapturesAttribute (a vector of strings).
    // Ignored when the pattern does not compile.
    void addHandlerForMethodPathRegex(const std::string& method, const std::string& pathRegex, RequestFactory factory,
        AsyncProcessBlock processBlock);
    void addGETHandlerForPath(const std::string& path, std::vector<uint8_t> staticData, const std::string& contentType, uint64_t cacheAge);
    void addGETHandlerForPath(const std::string& path, const std::string& filePath, bool isAttachment, uint64_t cacheAge,
        bool allowRangeRequests);
    // Serves the folder tree under basePath (which must begin and end with "/").
    void addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath, const std::string& indexFilename,
        uint64_t cacheAge, bool allowRangeRequests);

    // False when running or when a listening socket fails (error filled).
    bool start(const Options& options, HttpError* error = nullptr);
    // Port 8080, published over Bonjour under the server name.
    bool start();
    bool startWithPort(uint16_t port, std::optional<std::string> bonjourName);
    // Closes the listening sockets; open connections finish on their own.
    void stop();
    bool isRunning() const { return running_; }
    // For command-line programs: starts, serves the main queue on the calling thread (which becomes
    // the main thread, with a RunLoop installed on the MainQueue until this returns) until SIGINT or
    // SIGTERM arrives, then stops. The previous handlers of both signals are restored afterwards.
    // Returns whether the server started (error filled when it did not). One at a time per process.
    bool runWithOptions(const Options& options, HttpError* error = nullptr);
    // Port and Bonjour name as startWithPort.
    bool runWithPort(uint16_t port, std::optional<std::string> bonjourName);

    uint16_t port() const { return port_; }
    const std::string& serverName() const { return serverName_; }
    const std::string& authenticationRealm() const { return authenticationRealm_; }
    bool shouldAutomaticallyMapHEADToGET() const { return mapHEADToGET_; }
    std::chrono::milliseconds idleTimeout() const { return idleTimeout_; }
    uint64_t maxRequestBodyLength() const { return maxRequestBodyLength_; }
    std::chrono::milliseconds requestHeadTimeout() const { return requestHeadTimeout_; }
    // "http://host:port/" ("localhost" when bound to it); nullopt when stopped or without an address.
    std::optional<std::string> serverURL() const;

    // "http://host:port/" with the host name that Bonjour publication resolved; nullopt until then.
    std::optional<std::string> bonjourServerURL() const;
    // "http://address:port/" with the public address and port of the NAT mapping; nullopt unless
    // running with a granted mapping.
    std::optional<std::string> publicServerURL() const;

    // Any thread; the delegate is called on the main queue.
    void setDelegate(std::weak_ptr<HttpServerDelegate> delegate);
    std::shared_ptr<HttpServerDelegate> delegate() const;

    // Called by each connection when it starts and when it ends.
    void willStartConnection(HttpServerConnection& connection);
    void didEndConnection(HttpServerConnection& connection);
    // The 401 answer to a request without valid credentials; nullptr when it may pass. `method` is the
    // one of the request line (HEAD also when served as GET): the client's digest covers that one.
    std::shared_ptr<HttpServerResponse> authenticate(const HttpServerRequest& request, const std::string& method) const;

private:
    struct Listener;

    std::unique_ptr<Listener> listen(int family, uint16_t port, int backlog, HttpError* error);
    void accept(Listener& listener);
    bool acceptOne(Listener& listener);
    void pauseAcceptingForDescriptors();
    // Under connectionsMutex_.
    bool atConnectionCap() const;
    void updateAccepting();
    void notifyDelegate(void (HttpServerDelegate::*method)(HttpServer&));
    void didDisconnect();
    void startNATPortMapping(uint16_t port);

    std::vector<std::shared_ptr<HttpServerHandler>> handlers_;
    void endStalledConnections();

    std::mutex connectionsMutex_;
    std::unordered_set<HttpServerConnection*> connections_;  // the open ones, under connectionsMutex_
    // Under connectionsMutex_, as are the listeners once started.
    size_t maxConnections_ = 0;
    bool shortOfDescriptors_ = false;
    // On the main queue only.
    bool connected_ = false;
    std::unique_ptr<DispatchTimer> disconnectTimer_;

    std::atomic<bool> running_{false};
    std::atomic<uint16_t> port_{0};
    bool bindToLocalhost_ = false;
    std::string serverName_;
    std::string authenticationRealm_;
    std::unique_ptr<HttpServerAuthenticator> authenticator_;  // nullptr: every request passes
    ConnectionFactory connectionFactory_;
    bool mapHEADToGET_ = true;
    std::chrono::milliseconds disconnectDelay_{1000};
    std::chrono::milliseconds idleTimeout_{30000};
    uint64_t maxRequestBodyLength_ = Options{}.maxRequestBodyLength;
    std::chrono::milliseconds requestHeadTimeout_{30000};
    std::unique_ptr<Listener> listener4_;
    std::unique_ptr<Listener> listener6_;
    std::unique_ptr<HttpServerAvahiService> bonjour_;
    std::unique_ptr<HttpServerNATPortMapping> natPortMapping_;
    // The public side of the mapping, written on the mapping's queue and read from anywhere.
    mutable std::mutex dnsMutex_;
    std::string dnsAddress_;
    uint16_t dnsPort_ = 0;
    mutable std::mutex delegateMutex_;
    std::weak_ptr<HttpServerDelegate> delegate_;
    // Runs while any connection is open; made with the first one, under connectionsMutex_.
    std::unique_ptr<DispatchTimer> idleSweep_;
};
