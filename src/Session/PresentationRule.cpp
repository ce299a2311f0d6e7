#include "Session/PresentationRule.h"

#include "Utils/Log.h"

#include <algorithm>
#include <cctype>

namespace {

bool containsIgnoringCase(const std::string& text, const std::string& word)
{
    const auto match = std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return match != text.end();
}

} // namespace

std::optional<int32_t> PresentationRule::stateFor(const std::string& bundleId, int64_t options)
{
    if (containsIgnoringCase(bundleId, "Keynote")) {
        PLOG("keynote %lld", static_cast<long long>(options));
        return options == kKeynoteSlideshow ? 1 : 0;
    }
    if (containsIgnoringCase(bundleId, "Powerpoint")) {
        PLOG("Powerpoint %lld", static_cast<long long>(options));
        return options == kPowerpointSlideshow ? 1 : 0;
    }
    return std::nullopt;
}
