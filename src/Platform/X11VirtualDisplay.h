#pragma once

#include "Platform/VirtualDisplay.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class X11Display;

// The extended screen on an X server: a RandR 1.5 monitor named "PELKOR" that no output backs, of the
// main display's size, with the screen grown to hold it where needed. The server keeps such a
// monitor after its client leaves, so the object deletes it when it goes, and shrinks the screen back
// when it grew it (and nobody resized it since). It keeps one X connection of its own for its life,
// used under its lock.
class X11VirtualDisplay final : public VirtualDisplay {
public:
    static constexpr const char* kName = "PELKOR";

    struct Created {
        std::unique_ptr<X11VirtualDisplay> display;
        // Why none was made, when `display` is null.
        std::string refusal;
    };

    // Made on the X display `displayName` names ($DISPLAY when empty) and placed right of the main
    // display. Refused without an X display, without RandR 1.5, without a main display, where the
    // screen cannot grow to hold it, or when the server turns a request down.
    static Created create(const std::string& displayName = {});
    ~X11VirtualDisplay() override;
    X11VirtualDisplay(const X11VirtualDisplay&) = delete;
    X11VirtualDisplay& operator=(const X11VirtualDisplay&) = delete;

    uint32_t displayId() const override;
    int height() const override { return height_; }
    std::optional<Layout> layout() override;
    bool placeAt(int x, int y) override;
    BgraFrame snapshot() override;

private:
    struct ScreenSize {
        int width = 0;
        int height = 0;
        int widthMm = 0;
        int heightMm = 0;
    };

    X11VirtualDisplay(std::unique_ptr<X11Display> display, int width, int height);

    // The lock is held by the callers of these. Each returns why it failed, empty when it did not.
    std::string place(int x, int y);
    std::string growScreenFor(const Rect& area);
    std::string setMonitor(const Rect& area);
    std::optional<ScreenSize> screenSize() const;
    void deleteMonitor();
    void remove();

    std::mutex mutex_;
    const std::unique_ptr<X11Display> display_;
    const unsigned long nameAtom_;
    const int width_;
    const int height_;
    // The screen as it was before it first grew, and as it was made then; nullopt while it never grew.
    std::optional<ScreenSize> original_;
    std::optional<ScreenSize> grown_;
};
