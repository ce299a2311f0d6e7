#include "Utils/LocalizedText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

TEST(LocalizedText, PlacesAreFilledByOurOwnCodeNeverAsAPrintfFormat)
{
    EXPECT_EQ(LocalizedText::format("STRING_DEVICE_COUNT", {"3"}), "3 devices");
    EXPECT_EQ(LocalizedText::fill("%@ and %d, %lu%%", {"a", "1", "2"}), "a and 1, 2%");
    // A text that would read stray arguments or write memory as a format stays inert.
    EXPECT_EQ(LocalizedText::fill("%n%x %s %s", {"only"}), "%n%x only ");
    EXPECT_EQ(LocalizedText::fill("50%", {}), "50%");
    EXPECT_EQ(LocalizedText::fill("%@", {"%d"}), "%d");
}

TEST(LocalizedText, AMissingKeyShowsItself)
{
    EXPECT_EQ(LocalizedText::text("STRING_NO_SUCH_KEY"), "STRING_NO_SUCH_KEY");
    EXPECT_EQ(LocalizedText::text("STRING_CONNECT"), "Connect");
    EXPECT_EQ(LocalizedText::text(""), "");
}

// Every STRING_ key the code names has its line in the table, so no key shows instead of its text.
TEST(LocalizedText, EveryKeyTheCodeUsesHasAText)
{
    const std::regex keyPattern(R"re("(STRI(?:NG|GN)_[A-Z0-9_]+)")re");
    std::set<std::string> missing;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(PELKOR_SOURCE_DIR "/src")) {
        const auto extension = entry.path().extension();
        if (extension != ".cpp" && extension != ".h" && extension != ".ui")
            continue;
        std::ifstream file(entry.path());
        std::stringstream content;
        content << file.rdbuf();
        const std::string text = content.str();
        for (std::sregex_iterator it(text.begin(), text.end(), keyPattern), end; it != end; ++it) {
            const std::string key = (*it)[1];
            if (LocalizedText::text(key) == key)
                missing.insert(key);
        }
    }
    EXPECT_TRUE(missing.empty()) << [&] {
        std::string names;
        for (const auto& key : missing)
            names += key + " ";
        return names;
    }();
}
