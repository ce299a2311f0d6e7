#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The user-visible texts, looked up by their STRING_ keys in the text table shipped with the program
// (Resources/en.texts). English only for now.
class LocalizedText {
public:
    // The text of the key; the key itself when there is none, so a missing text shows, not a blank.
    static std::string text(std::string_view key);

    // The text of the key with its places (%@, %d, %ld, %lu, %s) filled by the arguments in order; "%%"
    // is a percent sign. The text is never a printf format: a place beyond the arguments stays empty,
    // and any other "%" stays as it is.
    static std::string format(std::string_view key, std::initializer_list<std::string_view> arguments);

    // The same filling over a given text, for tests of the table and its users.
    static std::string fill(std::string_view text, std::initializer_list<std::string_view> arguments);
};
