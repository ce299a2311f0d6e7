#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

// Publishes the server as a DNS-SD service through the local Avahi daemon, in the "local" domain on
// every interface. Avahi's callbacks run on its own thread; onRegistered is called there once the
// name is established, with the host name that clients resolve.
class HttpServerAvahiService {
public:
    using Registered = std::function<void(const std::string& hostName)>;

    // nullptr (logged) when the daemon cannot be reached.
    static std::unique_ptr<HttpServerAvahiService> publish(const std::string& name, const std::string& type, uint16_t port,
        Registered onRegistered);
    // Withdraws the service.
    ~HttpServerAvahiService();
    HttpServerAvahiService(const HttpServerAvahiService&) = delete;
    HttpServerAvahiService& operator=(const HttpServerAvahiService&) = delete;

    // The resolved host name; nullopt until registration completes.
    std::optional<std::string> hostName() const;
    const std::string& name() const { return name_; }
    const std::string& type() const { return type_; }

private:
    HttpServerAvahiService(std::string name, std::string type, uint16_t port, Registered onRegistered);
    static void clientChanged(AvahiClient* client, int state, void* context);
    static void groupChanged(AvahiEntryGroup* group, int state, void* context);
    void addService(AvahiClient* client);

    const std::string name_;
    const std::string type_;
    const uint16_t port_;
    const Registered onRegistered_;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    mutable std::mutex mutex_;
    std::optional<std::string> hostName_;
};
