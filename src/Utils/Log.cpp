#include "Utils/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string formatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0)
        return {};
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}

void emit(const char* file, int line, const std::string& text)
{
    std::string out = "PTC[";
    out += file;
    out += "\xE2\x80\x94>";
    out += std::to_string(line);
    out += "]: ";
    out += text;
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

} // namespace

void Log::writeV(const char* file, int line, const char* format, va_list args)
{
    emit(file, line, formatV(format, args));
}

void Log::write(const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeV(file, line, format, args);
    va_end(args);
}

void Log::writeErrno(const char* file, int line, const char* format, ...)
{
    const int saved = errno;
    va_list args;
    va_start(args, format);
    std::string text = formatV(format, args);
    va_end(args);
    char buffer[256];
    // GNU strerror_r returns the text (which may or may not be in buffer).
    text += ": ";
    text += strerror_r(saved, buffer, sizeof buffer);
    emit(file, line, text);
    errno = saved;
}
