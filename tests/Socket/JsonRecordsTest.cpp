#include "Socket/FileShareList.h"
#include "Socket/FileShareOffer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string_view>
#include <vector>

namespace {

std::vector<uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

} // namespace

TEST(FileShareList, IsAnArrayWithOneAnnouncedFile)
{
    const auto text = FileShareList{"http://192.168.1.5:8080/fileshare/1234", "1234", "Report \xC3\xA9t\xC3\xA9.pdf"}.encode();
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0], (nlohmann::json{{"fileType", "3005"},
                                       {"url", "http://192.168.1.5:8080/fileshare/1234"},
                                       {"fileId", "1234"},
                                       {"fileName", "Report \xC3\xA9t\xC3\xA9.pdf"},
                                       {"indexver", "-1"}}));
    // Compact text, no indentation or spaces between tokens.
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(text.data()), 2), "[{");
}

TEST(FileShareList, NameThatIsNotUtf8IsReplacedNotThrown)
{
    const auto text = FileShareList{"u", "12", "bad\xFF\xFEname"}.encode();
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    ASSERT_TRUE(json.is_array());
    EXPECT_EQ(json[0]["fileName"], "bad\xEF\xBF\xBD\xEF\xBF\xBDname");
}

TEST(FileShareOffer, ReadsUrlAndUsableFiles)
{
    // Trailing NUL as the transport delivers it; entries without a usable id or name are counted apart.
    const auto offer = FileShareOffer::decode(bytesOf(
        R"({"url":"http://10.0.0.2:9000/share","extra":true,"files":[{"id":"a1","name":"one.jpg"},)"
        R"({"id":42,"name":"two.mp4"},{"id":1.5,"name":"x"},{"id":"z"},{"name":"y"},{"id":"q","name":3},"str",)"
        R"({"id":"3","name":"three.txt","size":9}]})"
        "\0garbage"
        ""));
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->url, "http://10.0.0.2:9000/share");
    ASSERT_EQ(offer->files.size(), 3u);
    EXPECT_EQ(offer->files[0].id, "a1");
    EXPECT_EQ(offer->files[0].name, "one.jpg");
    EXPECT_EQ(offer->files[1].id, "42");
    EXPECT_EQ(offer->files[1].name, "two.mp4");
    EXPECT_EQ(offer->files[2].id, "3");
    EXPECT_EQ(offer->files[0].size, std::nullopt);
    EXPECT_EQ(offer->files[2].size, 9u);
    EXPECT_EQ(offer->unusableFiles, 5u);
    EXPECT_EQ(offer->fileCount(), 8u);

    const auto empty = FileShareOffer::decode(bytesOf(R"({"url":"u","files":[]})"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->files.empty());
}

TEST(FileShareOffer, RefusesWhatIsNotAnObject)
{
    for (const char* text : {"", "not json", R"({"url":"u","files":[)", R"([{"url":"u","files":[]}])", "\"\xFF\""})
        EXPECT_FALSE(FileShareOffer::decode(bytesOf(text))) << text;
}

// An object with a missing or malformed member is still an offer: one with no URL to fetch from, or
// with no files.
TEST(FileShareOffer, MalformedMembersLeaveNothingToFetch)
{
    for (const char* text : {R"({"files":[]})", R"({"url":7,"files":[]})", R"({"url":"u"})",
                             R"({"url":"u","files":{"id":"1","name":"n"}})"}) {
        const auto offer = FileShareOffer::decode(bytesOf(text));
        ASSERT_TRUE(offer) << text;
        EXPECT_EQ(offer->fileCount(), 0u) << text;
    }
    const auto noUrl = FileShareOffer::decode(bytesOf(R"({"url":["u"],"files":[{"id":"1","name":"n"}]})"));
    ASSERT_TRUE(noUrl);
    EXPECT_EQ(noUrl->url, "");
    EXPECT_EQ(noUrl->fileCount(), 1u);
}
