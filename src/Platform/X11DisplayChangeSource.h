#pragma once

#include "Platform/DispatchQueue.h"

#include <functional>
#include <memory>
#include <string>

class DispatchSource;

// Tells when the X screen's displays change: RandR's screen, CRTC and output notifications on a
// connection of its own, watched on a queue. A burst of notifications read at once makes one call.
class X11DisplayChangeSource {
public:
    using Handler = std::function<void()>;

    // Watches the X display `displayName` names ($DISPLAY when empty); `handler` runs on `queue`, one
    // call at a time. Null, logged, without an X display or RandR. Destroyed on `queue` (asserted), so
    // no call runs meanwhile.
    static std::unique_ptr<X11DisplayChangeSource> create(std::shared_ptr<DispatchQueue> queue, Handler handler,
                                                          const std::string& displayName = {});
    // Once this returns, no call that has not begun will begin.
    ~X11DisplayChangeSource();
    X11DisplayChangeSource(const X11DisplayChangeSource&) = delete;
    X11DisplayChangeSource& operator=(const X11DisplayChangeSource&) = delete;

private:
    struct Watch;
    X11DisplayChangeSource(std::shared_ptr<DispatchQueue> queue, std::unique_ptr<DispatchSource> source);

    const std::shared_ptr<DispatchQueue> queue_;
    std::unique_ptr<DispatchSource> source_;
};
