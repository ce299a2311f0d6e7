#pragma once

class HttpServer;

// Notifications of an HttpServer, every one on the main queue; each has an empty default.
class HttpServerDelegate {
public:
    virtual ~HttpServerDelegate() = default;
    virtual void webServerDidStart(HttpServer&) {}
    virtual void webServerDidCompleteBonjourRegistration(HttpServer&) {}
    // The public address and port changed (publicServerURL()), or the mapping failed (nullopt then).
    virtual void webServerDidUpdateNATPortMapping(HttpServer&) {}
    virtual void webServerDidConnect(HttpServer&) {}
    virtual void webServerDidDisconnect(HttpServer&) {}
    virtual void webServerDidStop(HttpServer&) {}
};
