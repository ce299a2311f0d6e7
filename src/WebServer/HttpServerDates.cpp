#include "WebServer/HttpServerDates.h"

#include "WebServer/HttpServerASCII.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t secondsOf(HttpServerDates::Date date)
{
    return std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
}

std::tm utcFields(int64_t seconds)
{
    const time_t time = static_cast<time_t>(seconds);
    std::tm fields{};
    gmtime_r(&time, &fields);
    return fields;
}

// Reads exactly `count` decimal digits at `pos`.
bool readDigits(std::string_view text, size_t& pos, size_t count, int& value)
{
    if (pos + count > text.size()) {
        return false;
    }
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool readLiteral(std::string_view text, size_t& pos, std::string_view literal)
{
    if (text.substr(pos, literal.size()) != literal) {
        return false;
    }
    pos += literal.size();
    return true;
}

// "HH:MM:SS", the time of day both date forms end with.
bool readTimeOfDay(std::string_view text, size_t& pos, int& hour, int& minute, int& second)
{
    return readDigits(text, pos, 2, hour) && readLiteral(text, pos, ":") && readDigits(text, pos, 2, minute) &&
           readLiteral(text, pos, ":") && readDigits(text, pos, 2, second);
}

// Index of a three-letter name in a table, compared ignoring case.
template <size_t N>
std::optional<int> readName(std::string_view text, size_t& pos, const std::array<const char*, N>& names)
{
    for (size_t i = 0; i < N; ++i) {
        if (pos + 3 <= text.size() && HttpServerASCII::equalsIgnoringCase(text.substr(pos, 3), names[i])) {
            pos += 3;
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

// The date of the fields, refused when they name no real time (31 Feb, 25:00).
std::optional<HttpServerDates::Date> dateFromFields(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const time_t time = timegm(&fields);
    std::tm check{};
    gmtime_r(&time, &check);
    if (check.tm_year != year - 1900 || check.tm_mon != month || check.tm_mday != day || check.tm_hour != hour ||
        check.tm_min != minute || check.tm_sec != second) {
        return std::nullopt;
    }
    return HttpServerDates::Date(std::chrono::seconds(time));
}

}  // namespace

std::string HttpServerDates::formatRFC822Date(Date date)
{
    return formatRFC822Date(secondsOf(date));
}

std::string HttpServerDates::formatRFC822Date(int64_t seconds)
{
    const std::tm fields = utcFields(seconds);
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", kWeekdays[static_cast<size_t>(fields.tm_wday)],
                  fields.tm_mday, kMonths[static_cast<size_t>(fields.tm_mon)], fields.tm_year + 1900, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
    return text;
}

std::optional<HttpServerDates::Date> HttpServerDates::parseRFC822Date(std::string_view text)
{
    size_t pos = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readName(text, pos, kWeekdays) || !readLiteral(text, pos, ", ") || !readDigits(text, pos, 2, day) ||
        !readLiteral(text, pos, " ")) {
        return std::nullopt;
    }
    const std::optional<int> month = readName(text, pos, kMonths);
    if (!month || !readLiteral(text, pos, " ") || !readDigits(text, pos, 4, year) || !readLiteral(text, pos, " ") ||
        !readTimeOfDay(text, pos, hour, minute, second) || !readLiteral(text, pos, " GMT") || pos != text.size()) {
        return std::nullopt;
    }
    return dateFromFields(year, *month, day, hour, minute, second);
}

std::string HttpServerDates::formatISO8601Date(Date date)
{
    return formatISO8601Date(secondsOf(date));
}

std::string HttpServerDates::formatISO8601Date(int64_t seconds)
{
    const std::tm fields = utcFields(seconds);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d+00:00", fields.tm_year + 1900, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

std::optional<HttpServerDates::Date> HttpServerDates::parseISO8601Date(std::string_view text)
{
    size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(text, pos, 4, year) || !readLiteral(text, pos, "-") || !readDigits(text, pos, 2, month) ||
        !readLiteral(text, pos, "-") || !readDigits(text, pos, 2, day) || !readLiteral(text, pos, "T") ||
        !readTimeOfDay(text, pos, hour, minute, second) || !readLiteral(text, pos, "+00:00") || pos != text.size()) {
        return std::nullopt;
    }
    return dateFromFields(year, month - 1, day, hour, minute, second);
}
