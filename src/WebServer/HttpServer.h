#pragma once

#include "Platform/DispatchTimer.h"
#include "WebServer/HttpServerConnectionDeadlines.h"
#include "WebServer/HttpServerDelegate.h"
#include "WebServer/HttpServerHandlerRegistry.h"
#include "WebServer/HttpServerPublisher.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HttpServerAuthenticator;
class HttpServerConnection;
class HttpServerListener;

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
    using MatchBlock = HttpServerHandlerRegistry::MatchBlock;
    using AsyncProcessBlock = HttpServerHandlerRegistry::AsyncProcessBlock;
    using ProcessBlock = HttpServerHandlerRegistry::ProcessBlock;
    using RequestFactory = HttpServerHandlerRegistry::RequestFactory;

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
        // The priority asked for the socket work; kept and reported only: the accept loops and the pool
        // that serve every server run at one priority.
        int dispatchQueuePriority = 0;
        // Asks the default gateway (NAT-PMP) to map the same TCP port on its public address.
        bool requestNATPortMapping = false;
        // A connection that makes no progress for this long is closed.
        std::chrono::milliseconds idleTimeout{30000};
        // While a body is read or an answer written, a connection moving fewer bytes a second than this,
        // averaged over the window, is closed (0: no minimum). 1 KiB/s is far below any client on a LAN.
        uint64_t minimumTransferRate = 1024;
        std::chrono::milliseconds transferRateWindow{30000};
        // A request body past this many bytes is refused with 413 before it is stored.
        uint64_t maxRequestBodyLength = uint64_t{4} << 30;
        // A request head must arrive whole within this time of the connection's start, however steadily
        // its bytes trickle in.
        std::chrono::milliseconds requestHeadTimeout{30000};
        // Open connections past which accepting pauses until one ends (0: no cap).
        size_t maxConnections = 256;
        // Open connections from one address (an IPv6 /64) past which its next ones are answered 503 and
        // closed, so one host cannot take every slot of the global cap (0: no cap).
        size_t maxConnectionsPerAddress = 32;
    };

    HttpServer();
    virtual ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Labels the server's queue and is the default server name ("WebDavServer" in that subclass).
    virtual std::string className() const { return "HttpServer"; }

    // The handler list (see HttpServerHandlerRegistry); filled before start().
    void addHandler(MatchBlock matchBlock, AsyncProcessBlock processBlock) { handlers_.addHandler(std::move(matchBlock), std::move(processBlock)); }
    static AsyncProcessBlock synchronous(ProcessBlock processBlock) { return HttpServerHandlerRegistry::synchronous(std::move(processBlock)); }
    void removeAllHandlers() { handlers_.removeAllHandlers(); }
    const std::vector<std::shared_ptr<HttpServerHandler>>& handlers() const { return handlers_.handlers(); }
    template <class Request = HttpServerRequest>
    static RequestFactory requestFactory()
    {
        return HttpServerHandlerRegistry::requestFactory<Request>();
    }
    void addDefaultHandlerForMethod(const std::string& method, RequestFactory factory, AsyncProcessBlock processBlock)
    {
        handlers_.addDefaultHandlerForMethod(method, std::move(factory), std::move(processBlock));
    }
    void addHandlerForMethod(const std::string& method, const std::string& path, RequestFactory factory, AsyncProcessBlock processBlock)
    {
        handlers_.addHandlerForMethod(method, path, std::move(factory), std::move(processBlock));
    }
    void addHandlerForMethodPathRegex(const std::string& method, const std::string& pathRegex, RequestFactory factory,
        AsyncProcessBlock processBlock)
    {
        handlers_.addHandlerForMethodPathRegex(method, pathRegex, std::move(factory), std::move(processBlock));
    }
    void addGETHandlerForPath(const std::string& path, std::vector<uint8_t> staticData, const std::string& contentType, uint64_t cacheAge)
    {
        handlers_.addGETHandlerForPath(path, std::move(staticData), contentType, cacheAge);
    }
    void addGETHandlerForPath(const std::string& path, const std::string& filePath, bool isAttachment, uint64_t cacheAge,
        bool allowRangeRequests)
    {
        handlers_.addGETHandlerForPath(path, filePath, isAttachment, cacheAge, allowRangeRequests);
    }
    void addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath, const std::string& indexFilename,
        uint64_t cacheAge, bool allowRangeRequests)
    {
        handlers_.addGETHandlerForBasePath(basePath, directoryPath, indexFilename, cacheAge, allowRangeRequests);
    }

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
    // The limits the stalled-connection sweep applies to the body and the answer.
    const HttpServerConnectionDeadlines::Limits& transferLimits() const { return transferLimits_; }
    int dispatchQueuePriority() const { return dispatchQueuePriority_; }
    // User name to stored credential (Base64 of "user:password"; for Digest the hex MD5 of
    // "user:realm:password"); nullopt unless that method is configured.
    std::optional<std::map<std::string, std::string>> authenticationBasicAccounts() const;
    std::optional<std::map<std::string, std::string>> authenticationDigestAccounts() const;
    // Name and type of the published Bonjour service; nullopt until it is registered.
    std::optional<std::string> bonjourName() const;
    std::optional<std::string> bonjourType() const;
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
    void accepted(int socket, std::vector<uint8_t> localAddress, std::vector<uint8_t> remoteAddress);
    // Takes a slot of the address's cap; false (logged when the address reaches it) when it is full.
    bool admitAddress(const std::string& key);
    void releaseAddress(const std::string& key);
    void releaseAddressLocked(const std::string& key);
    void startPublishing(const Options& options);
    void notifyDelegate(void (HttpServerDelegate::*method)(HttpServer&));
    void didDisconnect();
    void endStalledConnections();
    std::optional<std::map<std::string, std::string>> authenticationAccounts(bool basic) const;

    HttpServerHandlerRegistry handlers_;

    std::mutex connectionsMutex_;
    std::unordered_set<HttpServerConnection*> connections_;  // the open ones, under connectionsMutex_
    // Open connections by address key (HttpServerAddresses::capKey), under connectionsMutex_.
    std::unordered_map<std::string, size_t> connectionsByAddress_;
    size_t maxConnectionsPerAddress_ = 0;
    std::shared_ptr<HttpServerListener> listener_;  // under connectionsMutex_ once started
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
    int dispatchQueuePriority_ = 0;
    std::chrono::milliseconds requestHeadTimeout_{30000};
    HttpServerConnectionDeadlines::Limits transferLimits_{};
    HttpServerPublisher publisher_;
    mutable std::mutex delegateMutex_;
    std::weak_ptr<HttpServerDelegate> delegate_;
    // Runs while any connection is open; made with the first one, under connectionsMutex_.
    std::unique_ptr<DispatchTimer> idleSweep_;
};
