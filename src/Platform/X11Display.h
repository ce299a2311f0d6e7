#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

// One connection to an X server, with the extensions that capture and input posting use. A lost server (killed,
// connection broken) marks the connection lost instead of ending the process, and every later
// request on it fails. One thread at a time uses a connection.
class X11Display {
public:
    // The display `name` names, or $DISPLAY when it is empty. Null, with a log line, when there is
    // none or it cannot be opened.
    static std::unique_ptr<X11Display> open(const std::string& name = {});
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    _XDisplay* handle() const { return display_; }
    unsigned long root() const { return root_; }
    const std::string& name() const { return name_; }

    bool hasShm() const { return hasShm_; }
    bool hasComposite() const { return hasComposite_; }
    bool hasFixes() const { return hasFixes_; }
    bool hasRandr() const { return hasRandr_; }
    // RandR 1.5: monitors, among them virtual ones that no output backs.
    bool hasRandrMonitors() const { return hasRandrMonitors_; }
    bool hasXTest() const { return hasXTest_; }

    // True once the connection to the server broke.
    bool lost() const { return lost_.load(); }

    struct Geometry {
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
    };
    // The drawable's size as the server has it now; nullopt, with the X error code in *error (0 when the
    // request failed without one), when it has none.
    std::optional<Geometry> geometry(unsigned long drawable, int* error = nullptr) const;

private:
    X11Display(_XDisplay* display, std::string name);
    void queryExtensions();
    static void onConnectionLost(_XDisplay* display, void* self);

    _XDisplay* display_;
    std::string name_;
    unsigned long root_ = 0;
    bool hasShm_ = false;
    bool hasComposite_ = false;
    bool hasFixes_ = false;
    bool hasRandr_ = false;
    bool hasRandrMonitors_ = false;
    bool hasXTest_ = false;
    std::atomic<bool> lost_{false};
};
