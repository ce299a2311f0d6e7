#include "WebServer/HttpServerLog.h"

#include "Utils/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

std::atomic<int> gLevel{HttpServerLog::Info};
std::mutex gLoggerMutex;
HttpServerLog::Logger gLogger;

}  // namespace

void HttpServerLog::setLogLevel(int level) { gLevel = level; }

int HttpServerLog::logLevel() { return gLevel; }

void HttpServerLog::setBuiltInLogger(Logger logger)
{
    const std::lock_guard lock(gLoggerMutex);
    gLogger = std::move(logger);
}

void HttpServerLog::log(int level, const char* format, ...)
{
    if (level < gLevel)
        return;
    static const bool isTerminal = isatty(STDERR_FILENO) == 1;
    va_list args;
    va_start(args, format);
    char buffer[1024];
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    const std::lock_guard lock(gLoggerMutex);
    if (gLogger)
        gLogger(level, buffer);
    else if (isTerminal)
        Log::emit(stderr, Log::line(level, "HttpServer", buffer));
}
