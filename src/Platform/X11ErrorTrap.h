#pragma once

#include <mutex>

struct _XDisplay;

// For its lifetime, turns the X protocol errors of one connection into a value that the owner
// reads, instead of Xlib's default handler, which ends the process. Errors of connections under no
// trap go to the handler that was installed before. Traps of one connection on different threads
// take turns; traps of different connections never wait for each other. A trap nested in another
// of the same connection on the same thread takes over until it ends.
class X11ErrorTrap {
public:
    struct Error {
        int code = 0;        // X error code (BadWindow, BadMatch...), 0 for none
        int requestCode = 0; // major opcode of the failed request
        int minorCode = 0;
    };

    explicit X11ErrorTrap(_XDisplay* display);
    // Waits for the requests made under the trap, so none of their errors escapes it.
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits until the server has handled every request so far; the first error caught, if any.
    const Error& sync();
    // The first error caught so far, without waiting.
    const Error& error() const { return error_; }

private:
    // The connection's turn, held for the trap's life.
    std::unique_lock<std::recursive_mutex> lock_;
    _XDisplay* display_;
    Error error_;
    Error* outerSink_ = nullptr;
};
