#include "WebServer/HttpServer.h"

#include "Platform/GlobalQueue.h"
#include "Platform/MainQueue.h"
#include "WebServer/HttpServerAuthenticator.h"
#include "WebServer/HttpServerConnection.h"
#include "WebServer/HttpServerForegroundRunner.h"
#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerListener.h"
#include "WebServer/HttpServerLog.h"

#include <algorithm>
#include <cassert>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr auto kMinimumSweep = std::chrono::milliseconds(10);
constexpr auto kMaximumSweep = std::chrono::milliseconds(1000);

std::string urlWithHost(const std::string& host, uint16_t port)
{
    return port == 80 ? "http://" + host + "/" : "http://" + host + ":" + std::to_string(port) + "/";
}

HttpServer::Options optionsWithPort(uint16_t port, std::optional<std::string> bonjourName)
{
    HttpServer::Options options;
    options.port = port;
    if (bonjourName)
        options.bonjourName.emplace(std::move(*bonjourName));
    return options;
}

}  // namespace

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() { stop(); }

// ---- Start and stop ----

bool HttpServer::start() { return startWithPort(8080, std::string()); }

bool HttpServer::startWithPort(uint16_t port, std::optional<std::string> bonjourName)
{
    return start(optionsWithPort(port, std::move(bonjourName)));
}

bool HttpServer::start(const Options& options, HttpError* error)
{
    if (running_)
        return false;
    bindToLocalhost_ = options.bindToLocalhost;
    auto listener = HttpServerListener::open(
        {options.port, options.bindToLocalhost, options.maxPendingConnections, options.maxConnections}, error);
    if (!listener)
        return false;

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
    dispatchQueuePriority_ = options.dispatchQueuePriority;
    requestHeadTimeout_ = options.requestHeadTimeout;
    transferLimits_ = {options.idleTimeout, options.minimumTransferRate, options.transferRateWindow};
    {
        const std::lock_guard lock(connectionsMutex_);
        maxConnectionsPerAddress_ = options.maxConnectionsPerAddress;
    }
    port_ = listener->port();
    running_ = true;
    handlers_.setInService(true);

    // `this` is valid in the callback: the listener keeps its owner alive through each batch.
    listener->start(weak_from_this(), [this](int socket, std::vector<uint8_t> localAddress, std::vector<uint8_t> remoteAddress) {
        accepted(socket, std::move(localAddress), std::move(remoteAddress));
    });
    startPublishing(options);
    {
        const std::lock_guard lock(connectionsMutex_);
        listener->setOpenConnections(connections_.size());
        listener_ = std::move(listener);
    }
    const auto url = serverURL();
    HttpServerLog::log(HttpServerLog::Info, "%s started on port %i and reachable at %s", className().c_str(), port_.load(),
        url ? url->c_str() : "(no address)");
    notifyDelegate(&HttpServerDelegate::webServerDidStart);
    return true;
}

void HttpServer::startPublishing(const Options& options)
{
    if (options.bonjourName) {
        const std::string name = options.bonjourName->empty() ? serverName_ : *options.bonjourName;
        const std::string type = options.bonjourType.empty() ? "_http._tcp" : options.bonjourType;
        publisher_.publish(name, type, port_, [weak = weak_from_this()] {
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
    if (!options.requestNATPortMapping)
        return;
    // On the mapping's queue. `this` stays valid: stop() stops the publisher, which waits for a
    // callback under way, before the server goes. The class name is taken now, while it is safe to.
    publisher_.mapPort(port_, [this, name = className()](int error) {
        if (error != 0) {
            HttpServerLog::log(HttpServerLog::Error, "DNS service error %i", error);
        } else {
            const auto url = publicServerURL();
            HttpServerLog::log(HttpServerLog::Info, "%s now publicly reachable at %s", name.c_str(), url ? url->c_str() : "(no address)");
        }
        notifyDelegate(&HttpServerDelegate::webServerDidUpdateNATPortMapping);
    });
}

void HttpServer::stop()
{
    if (!running_)
        return;
    running_ = false;
    handlers_.setInService(false);
    publisher_.stop();
    std::shared_ptr<HttpServerListener> listener;
    {
        const std::lock_guard lock(connectionsMutex_);
        listener = std::move(listener_);
    }
    if (listener)
        listener->close();
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

bool HttpServer::runWithPort(uint16_t port, std::optional<std::string> bonjourName)
{
    return runWithOptions(optionsWithPort(port, std::move(bonjourName)));
}

bool HttpServer::runWithOptions(const Options& options, HttpError* error)
{
    return HttpServerForegroundRunner::run([this, &options](HttpError* startError) { return start(options, startError); }, [this] { stop(); },
        error);
}

// On an accept loop, inside the listener's accept handler.
void HttpServer::accepted(int socket, std::vector<uint8_t> localAddress, std::vector<uint8_t> remoteAddress)
{
    const std::string key = HttpServerFunctions::capKey(remoteAddress);
    if (!admitAddress(key)) {
        // Best effort, never waited for: the socket's buffer takes a head this small.
        static constexpr std::string_view kBusy = "HTTP/1.1 503 Service Unavailable\r\nConnection: Close\r\nContent-Length: 0\r\n\r\n";
        ::send(socket, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(socket, SHUT_WR);
        ::close(socket);
        return;
    }
    const auto self = shared_from_this();
    const auto connection = connectionFactory_ ? connectionFactory_(self, socket, std::move(localAddress), std::move(remoteAddress))
                                               : std::make_shared<HttpServerConnection>(self, socket, std::move(localAddress), std::move(remoteAddress));
    if (connection) {
        connection->start();
    } else {
        ::close(socket);
        releaseAddress(key);
    }
}

bool HttpServer::admitAddress(const std::string& key)
{
    const std::lock_guard lock(connectionsMutex_);
    size_t& open = connectionsByAddress_[key];
    if (maxConnectionsPerAddress_ == 0 || key.empty() || open < maxConnectionsPerAddress_) {
        ++open;
        return true;
    }
    if (open == maxConnectionsPerAddress_) {
        // Logged once per episode: the count sits one above the cap until the address drops below it.
        ++open;
        HttpServerLog::log(HttpServerLog::Warning, "Refusing connections from one address past its cap of %zu", maxConnectionsPerAddress_);
    }
    return false;
}

// Under connectionsMutex_.
void HttpServer::releaseAddressLocked(const std::string& key)
{
    const auto found = connectionsByAddress_.find(key);
    if (found == connectionsByAddress_.end())
        return;
    if (found->second > maxConnectionsPerAddress_ && maxConnectionsPerAddress_ != 0)
        found->second = maxConnectionsPerAddress_;  // the episode's mark goes with the first to end
    if (--found->second == 0)
        connectionsByAddress_.erase(found);
}

void HttpServer::releaseAddress(const std::string& key)
{
    const std::lock_guard lock(connectionsMutex_);
    releaseAddressLocked(key);
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
        const auto shortest = std::min({idleTimeout_, requestHeadTimeout_,
            std::chrono::duration_cast<std::chrono::milliseconds>(transferLimits_.rateWindow)});
        const auto interval = std::clamp<std::chrono::milliseconds>(shortest / 4, kMinimumSweep, kMaximumSweep);
        idleSweep_->start(interval, interval);
    }
    connections_.insert(&connection);
    if (listener_)
        listener_->setOpenConnections(connections_.size());
}

void HttpServer::didEndConnection(HttpServerConnection& connection)
{
    std::lock_guard lock(connectionsMutex_);
    if (connections_.erase(&connection) != 0)
        releaseAddressLocked(HttpServerFunctions::capKey(connection.remoteAddressData()));
    if (listener_)
        listener_->setOpenConnections(connections_.size());
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
        connection->endIfStalled(transferLimits_, now);
}

void HttpServer::didDisconnect()
{
    assert(MainQueue::shared()->isCurrent() && "the connected state lives on the main queue");
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

std::optional<std::map<std::string, std::string>> HttpServer::authenticationBasicAccounts() const
{
    return authenticationAccounts(true);
}

std::optional<std::map<std::string, std::string>> HttpServer::authenticationDigestAccounts() const
{
    return authenticationAccounts(false);
}

std::optional<std::map<std::string, std::string>> HttpServer::authenticationAccounts(bool basic) const
{
    const auto method = basic ? HttpServerAuthenticator::Method::Basic : HttpServerAuthenticator::Method::Digest;
    if (!authenticator_ || authenticator_->method() != method)
        return std::nullopt;
    return authenticator_->credentials();
}

std::optional<std::string> HttpServer::bonjourName() const
{
    return publisher_.serviceName();
}

std::optional<std::string> HttpServer::bonjourType() const
{
    return publisher_.serviceType();
}

std::optional<std::string> HttpServer::bonjourServerURL() const
{
    if (!running_)
        return std::nullopt;
    const auto host = publisher_.hostName();
    if (!host || host->empty())
        return std::nullopt;
    return urlWithHost(*host, port_);
}

std::optional<std::string> HttpServer::publicServerURL() const
{
    if (!running_)
        return std::nullopt;
    const auto address = publisher_.publicAddress();
    if (!address)
        return std::nullopt;
    return urlWithHost(address->address, address->port);
}

std::shared_ptr<HttpServerResponse> HttpServer::authenticate(const HttpServerRequest& request, const std::string& method) const
{
    if (!authenticator_)
        return nullptr;
    return authenticator_->authenticate(method, request.URL(), request.headerValue("Authorization").value_or(std::string()));
}
