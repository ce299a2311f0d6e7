#include "Platform/WlrVirtualInput.h"

#include "Platform/XkbKeymap.h"
#include "Utils/Log.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include <wayland-client.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

// The smallest rectangle that holds every output.
Rect layoutOf(const std::vector<WaylandConnection::Output>& outputs)
{
    if (outputs.empty())
        return {};
    int left = outputs.front().frame.x;
    int top = outputs.front().frame.y;
    int right = left + outputs.front().frame.width;
    int bottom = top + outputs.front().frame.height;
    for (const auto& output : outputs) {
        left = std::min(left, output.frame.x);
        top = std::min(top, output.frame.y);
        right = std::max(right, output.frame.x + output.frame.width);
        bottom = std::max(bottom, output.frame.y + output.frame.height);
    }
    return {left, top, right - left, bottom - top};
}

} // namespace

std::unique_ptr<WlrVirtualInput> WlrVirtualInput::open(const std::string& socket)
{
    std::unique_ptr<WaylandConnection> connection = WaylandConnection::open(socket);
    if (!connection)
        return nullptr;
    auto* seat = static_cast<wl_seat*>(connection->bind(&wl_seat_interface, 1));
    auto* pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
        connection->bind(&zwlr_virtual_pointer_manager_v1_interface, 1));
    auto* keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
        connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    std::unique_ptr<XkbKeymap> keymap = XkbKeymap::makeDefault();
    if (seat == nullptr || pointers == nullptr || keyboards == nullptr || keymap == nullptr) {
        PLOG("the Wayland compositor offers no virtual pointer and keyboard%s", keymap ? "" : " (no keymap)");
        if (pointers != nullptr)
            zwlr_virtual_pointer_manager_v1_destroy(pointers);
        if (keyboards != nullptr)
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboards));
        if (seat != nullptr)
            wl_seat_destroy(seat);
        return nullptr;
    }
    zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers, seat);
    zwp_virtual_keyboard_v1* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
    uint32_t size = 0;
    const int fd = keymap->sharedText(size);
    if (fd >= 0) {
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
        close(fd);
    }
    zwlr_virtual_pointer_manager_v1_destroy(pointers);
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboards));
    wl_seat_destroy(seat);
    std::unique_ptr<WlrVirtualInput> input(
        new WlrVirtualInput(std::move(connection), pointer, keyboard, std::move(keymap)));
    if (fd < 0 || !input->connection_->roundtrip()) {
        PLOG("the Wayland compositor refused the virtual keyboard");
        return nullptr;
    }
    return input;
}

WlrVirtualInput::WlrVirtualInput(std::unique_ptr<WaylandConnection> connection, zwlr_virtual_pointer_v1* pointer,
                                 zwp_virtual_keyboard_v1* keyboard, std::unique_ptr<XkbKeymap> keymap)
    : connection_(std::move(connection)), pointer_(pointer), keyboard_(keyboard), keymap_(std::move(keymap))
{
}

WlrVirtualInput::~WlrVirtualInput()
{
    zwlr_virtual_pointer_v1_destroy(pointer_);
    zwp_virtual_keyboard_v1_destroy(keyboard_);
    connection_->roundtrip();
}

uint32_t WlrVirtualInput::now() const
{
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool WlrVirtualInput::flush()
{
    // A round trip: the compositor has taken the events (and reported any error) before the call returns.
    return connection_->roundtrip();
}

bool WlrVirtualInput::moveTo(double x, double y)
{
    // The compositor maps the position onto all its outputs as they are now (an extended screen may
    // have come since).
    if (!connection_->roundtrip())
        return false;
    const Rect layout = layoutOf(connection_->outputs());

    if (layout.width <= 0 || layout.height <= 0)
        return false;
    const auto within = [](double value, int origin, int extent) {
        const double offset = std::isfinite(value) ? value - origin : 0;
        return static_cast<uint32_t>(std::clamp(offset, 0.0, static_cast<double>(extent - 1)));
    };
    zwlr_virtual_pointer_v1_motion_absolute(pointer_, now(), within(x, layout.x, layout.width),
                                            within(y, layout.y, layout.height), static_cast<uint32_t>(layout.width),
                                            static_cast<uint32_t>(layout.height));
    zwlr_virtual_pointer_v1_frame(pointer_);
    return flush();
}

bool WlrVirtualInput::button(uint32_t code, bool pressed)
{
    zwlr_virtual_pointer_v1_button(pointer_, now(), code,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    return flush();
}

bool WlrVirtualInput::key(uint32_t evdevCode, bool pressed)
{
    zwp_virtual_keyboard_v1_key(keyboard_, now(), evdevCode,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    return flush();
}
