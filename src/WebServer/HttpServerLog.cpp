#include "WebServer/HttpServerLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

std::atomic<int> gLevel{HttpServerLog::Info};
std::mutex gLoggerMutex;
HttpServerLog::Logger gLogger;

const char* levelName(int level)
{
    static const char* const kNames[] = {"DEBUG", "VERBOSE", "INFO", "WARNING", "ERROR"};
    return level >= 0 && level <= 4 ? kNames[level] : "ERROR";
}

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
        fprintf(stderr, "[%s] %s\n", levelName(level), buffer);
}
