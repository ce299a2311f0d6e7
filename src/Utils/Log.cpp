#include "Utils/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The formatted text, cut to the cap at a UTF-8 character boundary with a note of how many bytes
// went; a text far over the cap is never formatted whole.
std::string formatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0)
        return {};
    const size_t full = static_cast<size_t>(needed);
    // One byte past the cap shows whether the cut falls inside a character.
    const size_t kept = std::min(full, Log::kMaxTextLength + 1);
    std::string text(kept + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(kept);
    if (full <= Log::kMaxTextLength)
        return text;
    size_t cut = Log::kMaxTextLength;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    text += "... [" + std::to_string(full - cut) + " more bytes not logged]";
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
