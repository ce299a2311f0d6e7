#pragma once

#include "Utils/Log.h"

#include <functional>
#include <string>

// The HTTP server's own log, apart from the application's: a process-wide level (INFO at start) and
// an optional logger closure. Without a closure, lines go to standard error only when it is a terminal,
// in the process's log form (Log::line) with the origin "HttpServer".
class HttpServerLog {
public:
    enum Level { Debug = Log::Debug, Verbose = Log::Verbose, Info = Log::Info, Warning = Log::Warning, Error = Log::Error };
    using Logger = std::function<void(int level, const std::string& message)>;

    static void setLogLevel(int level);
    static int logLevel();
    static void setBuiltInLogger(Logger logger);
    static void log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
};
