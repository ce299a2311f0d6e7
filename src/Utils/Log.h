#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The process's one log form, for the application's log and the HTTP server's alike:
// "<yyyy-MM-dd HH:mm:ss.mmm> <LEVEL> <origin>: <text>\n", the time local, the origin of the
// application's lines "PTC[<source file>—><line>]". The application's lines go to standard output
// (which the log switch points at the log file); each line is written with a single call, so lines
// from different threads never interleave.
class Log {
public:
    // The text of one line, at most: outside input (a TV's list, a path) could make a line of
    // megabytes. A longer text is cut at a character boundary and says how much was left out.
    static constexpr size_t kMaxTextLength = 4096;

    enum Level { Debug = 0, Verbose = 1, Info = 2, Warning = 3, Error = 4 };

    static void write(Level level, const char* file, int line, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    static void writeV(Level level, const char* file, int line, const char* format, va_list args);
    // Like write, followed by ": " and the text of errno as it was on entry (which it keeps).
    static void writeErrno(Level level, const char* file, int line, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // One whole line of the form above.
    static std::string line(int level, std::string_view origin, std::string_view text);
    // "DEBUG", "VERBOSE", "INFO", "WARNING", "ERROR"; ERROR for a level out of range.
    static const char* levelName(int level);
    // Writes the line to the stream in one call and flushes it.
    static void emit(std::FILE* stream, const std::string& line);
};

#define PLOG(...) ::Log::write(::Log::Info, __FILE_NAME__, __LINE__, __VA_ARGS__)
#define PLOG_WARNING(...) ::Log::write(::Log::Warning, __FILE_NAME__, __LINE__, __VA_ARGS__)
#define PLOG_ERROR(...) ::Log::write(::Log::Error, __FILE_NAME__, __LINE__, __VA_ARGS__)
// The transport's lines carry the prefix "NQ ".
#define NQLOG(fmt, ...) ::Log::write(::Log::Info, __FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
#define NQLOG_WARNING(fmt, ...) \
    ::Log::write(::Log::Warning, __FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
#define NQLOG_ERROR(fmt, ...) ::Log::write(::Log::Error, __FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
// A failed system call, reported as an error with the system's error text.
#define PLOG_ERRNO(...) ::Log::writeErrno(::Log::Error, __FILE_NAME__, __LINE__, __VA_ARGS__)
#define NQLOG_ERRNO(fmt, ...) \
    ::Log::writeErrno(::Log::Error, __FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
