#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class HttpServerAvahiService;
class HttpServerNATPortMapping;

// Makes a running server known beyond its socket: published over DNS-SD through the local Avahi
// daemon, and mapped on the gateway's public address over NAT-PMP.
class HttpServerPublisher {
public:
    struct PublicAddress {
        std::string address;
        uint16_t port = 0;
    };
    // On Avahi's poll thread: hand off only.
    using Registered = std::function<void()>;
    // On the mapping's queue, after publicAddress() changed; the NAT-PMP error, 0 when granted.
    using MappingUpdated = std::function<void(int error)>;

    HttpServerPublisher();
    // Stops both.
    ~HttpServerPublisher();
    HttpServerPublisher(const HttpServerPublisher&) = delete;
    HttpServerPublisher& operator=(const HttpServerPublisher&) = delete;

    void publish(const std::string& name, const std::string& type, uint16_t port, Registered registered);
    void mapPort(uint16_t port, MappingUpdated updated);
    // Once this returns no callback runs; never from one of them (it waits for the one under way).
    void stop();

    // The host name that publication resolved; nullopt until then.
    std::optional<std::string> hostName() const;
    // The published service's name and type; nullopt until it is registered.
    std::optional<std::string> serviceName() const;
    std::optional<std::string> serviceType() const;
    // nullopt unless a mapping is granted.
    std::optional<PublicAddress> publicAddress() const;

private:
    std::unique_ptr<HttpServerAvahiService> bonjour_;
    std::unique_ptr<HttpServerNATPortMapping> natPortMapping_;
    // The public side of the mapping, written on the mapping's queue and read from anywhere.
    mutable std::mutex mutex_;
    PublicAddress public_;
};
