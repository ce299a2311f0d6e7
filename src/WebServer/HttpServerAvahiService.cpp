#include "WebServer/HttpServerAvahiService.h"

#include "WebServer/HttpServerLog.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

HttpServerAvahiService::HttpServerAvahiService(std::string name, std::string type, uint16_t port, Registered onRegistered)
    : name_(std::move(name)), type_(std::move(type)), port_(port), onRegistered_(std::move(onRegistered))
{
}

std::unique_ptr<HttpServerAvahiService> HttpServerAvahiService::publish(const std::string& name, const std::string& type, uint16_t port,
    Registered onRegistered)
{
    std::unique_ptr<HttpServerAvahiService> service(new HttpServerAvahiService(name, type, port, std::move(onRegistered)));
    service->poll_ = avahi_threaded_poll_new();
    if (service->poll_ == nullptr) {
        HttpServerLog::log(HttpServerLog::Error, "Failed creating CFNetService for registration");
        return nullptr;
    }
    int error = 0;
    // The state callback may run inside avahi_client_new, before the poll thread starts.
    service->client_ = avahi_client_new(avahi_threaded_poll_get(service->poll_), AvahiClientFlags(0),
        [](AvahiClient* client, AvahiClientState state, void* context) { clientChanged(client, state, context); }, service.get(), &error);
    if (service->client_ == nullptr) {
        HttpServerLog::log(HttpServerLog::Error, "Failed creating CFNetService for registration");
        HttpServerLog::log(HttpServerLog::Verbose, "Avahi: %s", avahi_strerror(error));
        return nullptr;
    }
    if (avahi_threaded_poll_start(service->poll_) < 0) {
        HttpServerLog::log(HttpServerLog::Error, "Failed creating CFNetService for registration");
        return nullptr;
    }
    return service;
}

HttpServerAvahiService::~HttpServerAvahiService()
{
    if (poll_ != nullptr)
        avahi_threaded_poll_stop(poll_);
    if (client_ != nullptr)
        avahi_client_free(client_);  // frees the entry group too
    if (poll_ != nullptr)
        avahi_threaded_poll_free(poll_);
}

std::optional<std::string> HttpServerAvahiService::hostName() const
{
    const std::lock_guard lock(mutex_);
    return hostName_;
}

void HttpServerAvahiService::clientChanged(AvahiClient* client, int state, void* context)
{
    auto* self = static_cast<HttpServerAvahiService*>(context);
    if (state == AVAHI_CLIENT_S_RUNNING && self->group_ == nullptr)
        self->addService(client);
    else if (state == AVAHI_CLIENT_FAILURE)
        HttpServerLog::log(HttpServerLog::Error, "Bonjour registration error %i (domain %i)", avahi_client_errno(client), 0);
}

void HttpServerAvahiService::addService(AvahiClient* client)
{
    group_ = avahi_entry_group_new(
        client, [](AvahiEntryGroup* group, AvahiEntryGroupState state, void* context) { groupChanged(group, state, context); }, this);
    if (group_ == nullptr
        || avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name_.c_str(), type_.c_str(),
               nullptr, nullptr, port_, nullptr) < 0
        || avahi_entry_group_commit(group_) < 0) {
        HttpServerLog::log(HttpServerLog::Error, "Bonjour registration error %i (domain %i)", avahi_client_errno(client), 0);
    }
}

void HttpServerAvahiService::groupChanged(AvahiEntryGroup* group, int state, void* context)
{
    auto* self = static_cast<HttpServerAvahiService*>(context);
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        const char* host = avahi_client_get_host_name_fqdn(avahi_entry_group_get_client(group));
        std::string hostName = host != nullptr ? host : "";
        if (!hostName.empty() && hostName.back() == '.')
            hostName.pop_back();
        {
            const std::lock_guard lock(self->mutex_);
            self->hostName_ = hostName;
        }
        if (self->onRegistered_)
            self->onRegistered_(hostName);
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION || state == AVAHI_ENTRY_GROUP_FAILURE) {
        HttpServerLog::log(HttpServerLog::Error, "Bonjour registration error %i (domain %i)",
            avahi_client_errno(avahi_entry_group_get_client(group)), state);
    }
}
