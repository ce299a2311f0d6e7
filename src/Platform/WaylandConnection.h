#pragma once

#include "Utils/Rect.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_output;
struct wl_interface;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

// One connection to the Wayland compositor, with the globals it announces and the outputs it shows.
// One thread at a time uses a connection; every call waits for the compositor's answer, so a
// compositor that went away fails the call instead of blocking for good.
class WaylandConnection {
public:
    struct Output {
        uint32_t name = 0; // the compositor's global name: stable while the output exists
        std::string label; // "HEADLESS-1", "eDP-1"
        Rect frame;   // in the layout's pixels: where the compositor places it, its mode's size
        wl_output* proxy = nullptr;
        // Its place in the layout, which wl_output leaves at 0, 0 on wlroots desktops.
        zxdg_output_v1* placement = nullptr;
    };

    // The compositor `socket` names ($WAYLAND_DISPLAY when empty); null, logged, when none answers.
    static std::unique_ptr<WaylandConnection> open(const std::string& socket = {});
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    // Whether the compositor announces that interface.
    bool has(const char* interface) const;
    // Binds the announced global of that interface at min(version, announced); null when none.
    void* bind(const wl_interface* interface, uint32_t version);
    std::vector<Output> outputs() const;
    // The output of that name; the first one for 0; null when there is none.
    const Output* output(uint32_t name) const;

    // Sends what is queued and handles the compositor's answer to it, and the description of outputs
    // that came meanwhile; false once the connection broke.
    bool roundtrip();
    // Handles events until `done` holds, the connection breaks or `timeoutMs` pass; whether it holds.
    bool dispatchUntil(const bool& done, int timeoutMs);

private:
    struct Global {
        uint32_t name = 0;
        std::string interface;
        uint32_t version = 0;
    };
    explicit WaylandConnection(wl_display* display);
    // Asks where `output` lies in the layout, where the compositor tells (xdg-output).
    void askPlacement(Output& output);
    static void onGlobal(void* self, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void onGlobalRemove(void* self, wl_registry* registry, uint32_t name);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    std::vector<Global> globals_;
    std::vector<std::unique_ptr<Output>> outputs_;
    zxdg_output_manager_v1* placements_ = nullptr;
    bool outputsBound_ = false;
};
