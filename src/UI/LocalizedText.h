#pragma once

#include <string>
#include <string_view>

// The user-visible texts of the session, looked up by their STRING_ keys. English only for now.
class LocalizedText {
public:
    // The text of the key; the key itself when there is none, so a missing text shows, not a blank.
    static std::string text(std::string_view key);
};
