#include "WebServer/HttpServerPublisher.h"

#include "WebServer/HttpServerAvahiService.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/HttpServerNATPortMapping.h"

#include <utility>

HttpServerPublisher::HttpServerPublisher() = default;

HttpServerPublisher::~HttpServerPublisher() { stop(); }

void HttpServerPublisher::publish(const std::string& name, const std::string& type, uint16_t port, Registered registered)
{
    bonjour_ = HttpServerAvahiService::publish(name, type, port, [registered = std::move(registered)](const std::string&) { registered(); });
}

void HttpServerPublisher::mapPort(uint16_t port, MappingUpdated updated)
{
    // On the mapping's queue. `this` stays valid: stop() destroys the mapping, which waits for a
    // callback under way, before the publisher goes.
    auto changed = [this, updated = std::move(updated)](const HttpServerNATPortMapping::Result& result) {
        {
            const std::lock_guard lock(mutex_);
            public_ = result.error == 0 ? PublicAddress{result.address, result.port} : PublicAddress{};
        }
        updated(result.error);
    };
    int error = 0;
    natPortMapping_ = HttpServerNATPortMapping::create(port, std::move(changed), &error);
    if (!natPortMapping_)
        HttpServerLog::log(HttpServerLog::Error, "Failed creating NAT port mapping (%i)", error);
}

void HttpServerPublisher::stop()
{
    natPortMapping_.reset();
    {
        const std::lock_guard lock(mutex_);
        public_ = {};
    }
    bonjour_.reset();
}

std::optional<std::string> HttpServerPublisher::hostName() const
{
    if (!bonjour_)
        return std::nullopt;
    return bonjour_->hostName();
}

std::optional<std::string> HttpServerPublisher::serviceName() const
{
    if (!hostName())
        return std::nullopt;
    return bonjour_->name();
}

std::optional<std::string> HttpServerPublisher::serviceType() const
{
    if (!hostName())
        return std::nullopt;
    return bonjour_->type();
}

std::optional<HttpServerPublisher::PublicAddress> HttpServerPublisher::publicAddress() const
{
    const std::lock_guard lock(mutex_);
    if (public_.address.empty() || public_.port == 0)
        return std::nullopt;
    return public_;
}
