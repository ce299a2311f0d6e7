#include "Utils/Log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

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

// Local time to the millisecond.
std::string timeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
    return text;
}

std::string sourceOrigin(const char* file, int line)
{
    return std::string("PTC[") + file + "\xE2\x80\x94>" + std::to_string(line) + "]";
}

} // namespace

const char* Log::levelName(int level)
{
    static const char* const kNames[] = {"DEBUG", "VERBOSE", "INFO", "WARNING", "ERROR"};
    return level >= Debug && level <= Error ? kNames[level] : kNames[Error];
}

std::string Log::line(int level, std::string_view origin, std::string_view text)
{
    std::string out = timeStamp();
    out += ' ';
    out += levelName(level);
    out += ' ';
    out += origin;
    out += ": ";
    out += text;
    out += '\n';
    return out;
}

void Log::emit(std::FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

void Log::writeV(Level level, const char* file, int line, const char* format, va_list args)
{
    emit(stdout, Log::line(level, sourceOrigin(file, line), formatV(format, args)));
}

void Log::write(Level level, const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeV(level, file, line, format, args);
    va_end(args);
}

void Log::writeErrno(Level level, const char* file, int line, const char* format, ...)
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
    emit(stdout, Log::line(level, sourceOrigin(file, line), text));
    errno = saved;
}
