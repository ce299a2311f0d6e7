#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Percent coding of URLs and of URL-encoded forms. Pure; any thread.
class HttpServerURLCoding {
public:
    // Percent-escapes every byte but ASCII letters, digits and the given punctuation.
    static std::string percentEscape(std::string_view text, std::string_view keptPunctuation);
    // Percent-escapes UTF-8 text for use in a URL, reserved characters (":@/?&=+" among them) included.
    static std::string escapeURLString(std::string_view text);
    // Decodes every percent escape; nullopt for a broken escape or a result that is not UTF-8.
    static std::optional<std::string> unescapeURLString(std::string_view text);
    // "a=1&b=x+y%21" as names to values; pairs that do not decode are logged and skipped.
    static std::map<std::string, std::string> parseURLEncodedForm(std::string_view text);
};
