#include "Platform/WaylandConnection.h"

#include "Utils/Log.h"

#include "xdg-output-unstable-v1-client-protocol.h"
#include <wayland-client.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>

namespace {

// Outputs need version 2 for their done event; 4 adds the name.
constexpr uint32_t kOutputVersion = 4;

void onGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                int32_t)
{
    auto* output = static_cast<WaylandConnection::Output*>(data);
    output->frame.x = x;
    output->frame.y = y;
}

void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if ((flags & WL_OUTPUT_MODE_CURRENT) == 0)
        return;
    auto* output = static_cast<WaylandConnection::Output*>(data);
    output->frame.width = width;
    output->frame.height = height;
}

void onDone(void*, wl_output*) {}
void onScale(void*, wl_output*, int32_t) {}

void onName(void* data, wl_output*, const char* name)
{
    static_cast<WaylandConnection::Output*>(data)->label = name;
}

void onDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener = {onGeometry, onMode, onDone, onScale, onName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y)
{
    auto* output = static_cast<WaylandConnection::Output*>(data);
    output->frame.x = x;
    output->frame.y = y;
}

void onLogicalSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void onPlacementDone(void*, zxdg_output_v1*) {}
void onPlacementName(void*, zxdg_output_v1*, const char*) {}
void onPlacementDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kPlacementListener = {onLogicalPosition, onLogicalSize, onPlacementDone,
                                                    onPlacementName, onPlacementDescription};

} // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& socket)
{
    wl_display* display = wl_display_connect(socket.empty() ? nullptr : socket.c_str());
    if (display == nullptr) {
        PLOG("no Wayland compositor answers on %s", socket.empty() ? "$WAYLAND_DISPLAY" : socket.c_str());
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    if (!connection->roundtrip()) {
        PLOG("the Wayland compositor did not answer");
        return nullptr;
    }
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display)
{
    static const wl_registry_listener listener = {onGlobal, onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
}

WaylandConnection::~WaylandConnection()
{
    for (const auto& output : outputs_) {
        if (output->placement != nullptr)
            zxdg_output_v1_destroy(output->placement);
        wl_output_destroy(output->proxy);
    }
    if (placements_ != nullptr)
        zxdg_output_manager_v1_destroy(placements_);
    if (registry_ != nullptr)
        wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(void* self, wl_registry* registry, uint32_t name, const char* interface,
                                 uint32_t version)
{
    auto* connection = static_cast<WaylandConnection*>(self);
    connection->globals_.push_back({name, interface, version});
    if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && connection->placements_ == nullptr) {
        connection->placements_ = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, 1));
        for (const auto& output : connection->outputs_)
            connection->askPlacement(*output);
        connection->outputsBound_ = true;
        return;
    }
    if (std::strcmp(interface, wl_output_interface.name) != 0)
        return;
    // On the heap: the listener's data points to it.
    auto output = std::make_unique<Output>();
    output->name = name;
    output->proxy = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, kOutputVersion)));
    wl_output_add_listener(output->proxy, &kOutputListener, output.get());
    connection->askPlacement(*output);
    connection->outputs_.push_back(std::move(output));
    connection->outputsBound_ = true;
}

void WaylandConnection::askPlacement(Output& output)
{
    if (placements_ == nullptr || output.placement != nullptr)
        return;
    output.placement = zxdg_output_manager_v1_get_xdg_output(placements_, output.proxy);
    zxdg_output_v1_add_listener(output.placement, &kPlacementListener, &output);
}

void WaylandConnection::onGlobalRemove(void* self, wl_registry*, uint32_t name)
{
    auto* connection = static_cast<WaylandConnection*>(self);
    std::erase_if(connection->globals_, [name](const Global& global) { return global.name == name; });
    std::erase_if(connection->outputs_, [name](const std::unique_ptr<Output>& output) {
        if (output->name != name)
            return false;
        if (output->placement != nullptr)
            zxdg_output_v1_destroy(output->placement);
        wl_output_destroy(output->proxy);
        return true;
    });
}

bool WaylandConnection::has(const char* interface) const
{
    return std::any_of(globals_.begin(), globals_.end(),
                       [interface](const Global& global) { return global.interface == interface; });
}

void* WaylandConnection::bind(const wl_interface* interface, uint32_t version)
{
    for (const Global& global : globals_) {
        if (global.interface == interface->name)
            return wl_registry_bind(registry_, global.name, interface, std::min(version, global.version));
    }
    return nullptr;
}

std::vector<WaylandConnection::Output> WaylandConnection::outputs() const
{
    std::vector<Output> copies;
    for (const auto& output : outputs_)
        copies.push_back(*output);
    return copies;
}

const WaylandConnection::Output* WaylandConnection::output(uint32_t name) const
{
    for (const auto& output : outputs_) {
        if (name == 0 || output->name == name)
            return output.get();
    }
    return nullptr;
}

bool WaylandConnection::roundtrip()
{
    // An output bound during a round trip describes itself only in the next one.
    outputsBound_ = false;
    bool answered = wl_display_roundtrip(display_) >= 0;
    while (answered && outputsBound_) {
        outputsBound_ = false;
        answered = wl_display_roundtrip(display_) >= 0;
    }
    return answered;
}

bool WaylandConnection::dispatchUntil(const bool& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done) {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0)
                return false;
            if (done)
                return true;
        }
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            wl_display_cancel_read(display_);
            return false;
        }
        pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display_);
            continue;
        }
        if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0)
            return false;
    }
    return true;
}
