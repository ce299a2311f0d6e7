#pragma once

#include <cstdarg>
#include <cstddef>

// The system's one log form: "PTC[<source file>—><line>]: <text>\n" on standard output.
// Each line is written with a single call, so lines from different threads never interleave.
class Log {
public:
    // The text of one line, at most: outside input (a TV's list, a path) could make a line of
    // megabytes. A longer text is cut at a character boundary and says how much was left out.
    static constexpr size_t kMaxTextLength = 4096;

    static void write(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
    static void writeV(const char* file, int line, const char* format, va_list args);
    // Like write, followed by ": " and the text of errno as it was on entry.
    static void writeErrno(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

#define PLOG(...) ::Log::write(__FILE_NAME__, __LINE__, __VA_ARGS__)
// The transport's lines carry the prefix "NQ ".
#define NQLOG(fmt, ...) ::Log::write(__FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
// A failed system call, reported with the system's error text.
#define PLOG_ERRNO(...) ::Log::writeErrno(__FILE_NAME__, __LINE__, __VA_ARGS__)
#define NQLOG_ERRNO(fmt, ...) ::Log::writeErrno(__FILE_NAME__, __LINE__, "NQ " fmt __VA_OPT__(, ) __VA_ARGS__)
