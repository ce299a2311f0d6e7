#include "Utils/LocalizedText.h"

#include <array>
#include <unordered_map>

extern const std::string_view kEnglishTexts;

namespace {

// Lines "KEY = text"; blank lines and lines starting with '#' are comments. A line without " = " is
// skipped: the table is ours, but a slip in it must not take a text's neighbours with it.
std::unordered_map<std::string_view, std::string_view> parseTable(std::string_view table)
{
    constexpr std::string_view kSeparator = " = ";
    std::unordered_map<std::string_view, std::string_view> texts;
    while (!table.empty()) {
        const size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view{} : table.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t separator = line.find(kSeparator);
        if (separator == std::string_view::npos || separator == 0)
            continue;
        texts.emplace(line.substr(0, separator), line.substr(separator + kSeparator.size()));
    }
    return texts;
}

const std::unordered_map<std::string_view, std::string_view>& table()
{
    static const auto texts = parseTable(kEnglishTexts);
    return texts;
}

// The length of the place that starts at text[at] (a '%'), or 0 when it is no place.
size_t placeLength(std::string_view text, size_t at)
{
    static constexpr std::array<std::string_view, 5> kPlaces{"%@", "%ld", "%lu", "%d", "%s"};
    for (const std::string_view place : kPlaces) {
        if (text.substr(at, place.size()) == place)
            return place.size();
    }
    return 0;
}

} // namespace

std::string LocalizedText::text(std::string_view key)
{
    const auto found = table().find(key);
    return std::string(found == table().end() ? key : found->second);
}

std::string LocalizedText::format(std::string_view key, std::initializer_list<std::string_view> arguments)
{
    return fill(text(key), arguments);
}

std::string LocalizedText::fill(std::string_view text, std::initializer_list<std::string_view> arguments)
{
    std::string out;
    out.reserve(text.size());
    auto next = arguments.begin();
    for (size_t at = 0; at < text.size();) {
        if (text[at] != '%') {
            out += text[at++];
            continue;
        }
        if (text.substr(at, 2) == "%%") {
            out += '%';
            at += 2;
            continue;
        }
        const size_t length = placeLength(text, at);
        if (length == 0) {
            out += text[at++];
            continue;
        }
        if (next != arguments.end())
            out += *next++;
        at += length;
    }
    return out;
}
