#pragma once

#include "WebServer/HttpError.h"

#include <functional>

// Serves a server in the foreground of a command-line program: makes the calling thread the main
// thread (a RunLoop installed on the MainQueue until run() returns), starts, serves until SIGINT or
// SIGTERM arrives, then stops. The previous handlers of both signals are restored afterwards. One at
// a time per process.
class HttpServerForegroundRunner {
public:
    using Start = std::function<bool(HttpError* error)>;
    using Stop = std::function<void()>;

    // Whether the server started (error filled when it did not).
    static bool run(const Start& start, const Stop& stop, HttpError* error);
};
