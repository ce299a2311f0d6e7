#include "Socket/DeviceMessage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

DeviceMessage fromText(const char* text)
{
    const auto json = nlohmann::json::parse(text, nullptr, false);
    EXPECT_TRUE(json.is_object()) << text;
    return DeviceMessage(json);
}

} // namespace

TEST(DeviceMessage, TakesEveryPropertyOfAListEntry)
{
    const auto message = fromText(R"({"ip":"192.168.1.7","name":"Ann's laptop","client":7,"clientMode":"mac",
        "slide":true,"slideType":3,"checking":true,"isWirlessTalk":true,"isLock":true,"speaker":true,"isShare":true,
        "isReverseMirroring":true,"isStop":true,"isVisible":true,"canShare":2,"isAesEnable":true,"AesKey":"k",
        "isPortrait":true})");
    EXPECT_EQ(message.ip, "192.168.1.7");
    EXPECT_EQ(message.name, "Ann's laptop");
    EXPECT_EQ(message.client, 7);
    EXPECT_EQ(message.clientMode, "mac");
    EXPECT_EQ(message.slideType, 3);
    EXPECT_EQ(message.canShare, 2);
    EXPECT_EQ(message.AesKey, "k");
    for (bool flag : {message.slide, message.checking, message.isWirlessTalk, message.isLock, message.speaker,
                      message.isShare, message.isReverseMirroring, message.isStop, message.isVisible,
                      message.isAesEnable, message.isPortrait})
        EXPECT_TRUE(flag);
}

TEST(DeviceMessage, KeepsDefaultsForWhatIsMissingNullOrUnknown)
{
    const auto locked = fromText(R"({"isLock":true,"client":42,"colour":"red"})");
    DeviceMessage expected;
    expected.isLock = true;
    expected.client = 42;
    EXPECT_EQ(locked, expected);

    EXPECT_EQ(fromText("{}"), DeviceMessage());
    EXPECT_EQ(fromText(R"({"isLock":null,"client":null,"name":null,"canShare":null})"), DeviceMessage());
    EXPECT_EQ(DeviceMessage(nlohmann::json::array({1, 2})), DeviceMessage());
}

TEST(DeviceMessage, LeavesPropertiesWhoseValueHasTheWrongType)
{
    EXPECT_EQ(fromText(R"({"name":5,"ip":["x"],"AesKey":true,"isShare":"yes","isLock":{},"client":"42",
        "canShare":true,"slideType":1.5,"clientMode":null})"),
              DeviceMessage());
}

TEST(DeviceMessage, ReadsFlagsFromNumbers)
{
    const auto message = fromText(R"({"isShare":1,"speaker":0,"isStop":2.5,"isLock":-1,"isVisible":0.0})");
    EXPECT_TRUE(message.isShare);
    EXPECT_FALSE(message.speaker);
    EXPECT_TRUE(message.isStop);
    EXPECT_TRUE(message.isLock);
    EXPECT_FALSE(message.isVisible);
}

TEST(DeviceMessage, KeepsSixtyFourBitIdsExact)
{
    EXPECT_EQ(fromText(R"({"client":9007199254740993})").client, 9007199254740993);
    EXPECT_EQ(fromText(R"({"client":9223372036854775807})").client, INT64_MAX);
    EXPECT_EQ(fromText(R"({"client":-9223372036854775808})").client, INT64_MIN);
    EXPECT_EQ(fromText(R"({"client":42.0})").client, 42);
    // Too large for a signed id, or not whole: refused rather than wrapped or truncated.
    EXPECT_EQ(fromText(R"({"client":9223372036854775808})").client, 0);
    EXPECT_EQ(fromText(R"({"client":18446744073709551615})").client, 0);
    EXPECT_EQ(fromText(R"({"client":1e19})").client, 0);
    EXPECT_EQ(fromText(R"({"client":9223372036854775808.0})").client, 0);
}

TEST(DeviceMessage, ReadsAListAndSkipsEntriesThatAreNotObjects)
{
    const auto list = DeviceMessage::listFromJson(R"([{"name":"a","client":1},3,"x",null,[],{"name":"b","client":2}])");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].name, "a");
    EXPECT_EQ((*list)[1].client, 2);

    const auto empty = DeviceMessage::listFromJson("[]");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    for (const char* text : {"", "{}", "not json", "[{\"name\":\"a\"}", "\"[]\""})
        EXPECT_FALSE(DeviceMessage::listFromJson(text)) << text;
}
