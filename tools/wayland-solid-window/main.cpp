// wayland-solid-window: maps one Wayland top-level window filled with one colour, titled as asked,
// and keeps it shown, at whatever size the compositor gives it, until it is killed. With --moving a
// white square runs along its top edge, a step each frame the compositor shows (moving content for
// the benchmarks).
//
//   wayland-solid-window --colour RRGGBB [--title TITLE] [--moving]
//
// Prints "ready WxH" on standard output once the compositor has shown the first picture.

#include "xdg-shell-client-protocol.h"
#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Window {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    uint32_t colour = 0;
    bool moving = false;
    uint64_t frame = 0;
    int width = 640;
    int height = 480;
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool announced = false;
    bool closed = false;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* window = static_cast<Window*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        window->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        window->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        window->wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onPing(void*, xdg_wm_base* base, uint32_t serial)
{
    xdg_wm_base_pong(base, serial);
}

const xdg_wm_base_listener kWmBaseListener = {onPing};

void show(Window& window);

// The compositor showed the last picture: the next one, one step on.
void onFrameDone(void* data, wl_callback* callback, uint32_t)
{
    wl_callback_destroy(callback);
    auto* window = static_cast<Window*>(data);
    ++window->frame;
    show(*window);
}

const wl_callback_listener kFrameListener = {onFrameDone};

void onRelease(void*, wl_buffer* buffer)
{
    wl_buffer_destroy(buffer);
}

const wl_buffer_listener kBufferListener = {onRelease};

// A picture of the window's size in one colour, in shared memory.
wl_buffer* paint(Window& window)
{
    const int stride = window.width * 4;
    const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(window.height);
    const int fd = memfd_create("solid-window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
        return nullptr;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    auto* pixels = static_cast<uint32_t*>(memory);
    for (size_t i = 0; i < size / 4; ++i)
        pixels[i] = 0xff000000u | window.colour;
    if (window.moving) {
        constexpr int kSquare = 32;
        const int travel = window.width > kSquare ? window.width - kSquare : 1;
        const int left = static_cast<int>((window.frame * 8) % static_cast<uint64_t>(travel));
        for (int y = 0; y < kSquare && y < window.height; ++y)
            for (int x = left; x < left + kSquare && x < window.width; ++x)
                pixels[static_cast<size_t>(y) * static_cast<size_t>(window.width) + static_cast<size_t>(x)] = 0xffffffffu;
    }
    munmap(memory, size);
    wl_shm_pool* pool = wl_shm_create_pool(window.shm, fd, static_cast<int32_t>(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, window.width, window.height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// A new picture attached and committed; a moving one asks for the next frame.
void show(Window& window)
{
    window.buffer = paint(window);
    if (window.buffer == nullptr) {
        window.closed = true;
        return;
    }
    // Destroyed once the compositor has let it go.
    wl_buffer_add_listener(window.buffer, &kBufferListener, nullptr);
    if (window.moving)
        wl_callback_add_listener(wl_surface_frame(window.surface), &kFrameListener, &window);
    wl_surface_attach(window.surface, window.buffer, 0, 0);
    wl_surface_damage(window.surface, 0, 0, window.width, window.height);
    wl_surface_commit(window.surface);
}

void onConfigure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto* window = static_cast<Window*>(data);
    xdg_surface_ack_configure(surface, serial);
    if (window->pendingWidth > 0 && window->pendingHeight > 0) {
        window->width = window->pendingWidth;
        window->height = window->pendingHeight;
    }
    // A moving window's frames go on by themselves once the first is shown.
    if (!window->moving || window->buffer == nullptr)
        show(*window);
}

const xdg_surface_listener kSurfaceListener = {onConfigure};

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*)
{
    auto* window = static_cast<Window*>(data);
    window->pendingWidth = width;
    window->pendingHeight = height;
}

void onClose(void* data, xdg_toplevel*)
{
    static_cast<Window*>(data)->closed = true;
}

// Bound at version 1: the later events never come.
const xdg_toplevel_listener kToplevelListener = {onToplevelConfigure, onClose, nullptr, nullptr};

} // namespace

int main(int argc, char** argv)
{
    Window window;
    std::string title = "solid";
    bool haveColour = false;
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--moving") == 0) {
            window.moving = true;
            --i;
        } else if (i + 1 >= argc) {
            break;
        } else if (std::strcmp(argv[i], "--colour") == 0) {
            window.colour = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 16)) & 0xffffffu;
            haveColour = true;
        } else if (std::strcmp(argv[i], "--title") == 0) {
            title = argv[i + 1];
        }
    }
    if (!haveColour) {
        std::fprintf(stderr, "usage: wayland-solid-window --colour RRGGBB [--title TITLE] [--moving]\n");
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no Wayland compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &window);
    wl_display_roundtrip(display);
    if (window.compositor == nullptr || window.shm == nullptr || window.wmBase == nullptr) {
        std::fprintf(stderr, "the compositor lacks a compositor, shared memory or xdg-shell\n");
        return 1;
    }
    xdg_wm_base_add_listener(window.wmBase, &kWmBaseListener, nullptr);
    window.surface = wl_compositor_create_surface(window.compositor);
    window.xdgSurface = xdg_wm_base_get_xdg_surface(window.wmBase, window.surface);
    xdg_surface_add_listener(window.xdgSurface, &kSurfaceListener, &window);
    window.toplevel = xdg_surface_get_toplevel(window.xdgSurface);
    xdg_toplevel_add_listener(window.toplevel, &kToplevelListener, &window);
    xdg_toplevel_set_title(window.toplevel, title.c_str());
    xdg_toplevel_set_app_id(window.toplevel, title.c_str());
    wl_surface_commit(window.surface);
    while (!window.closed && wl_display_dispatch(display) >= 0) {
        if (!window.announced && window.buffer != nullptr) {
            wl_display_roundtrip(display);
            std::printf("ready %dx%d\n", window.width, window.height);
            std::fflush(stdout);
            window.announced = true;
        }
    }
    wl_display_disconnect(display);
    return 0;
}
