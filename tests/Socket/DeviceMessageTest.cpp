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

// What is missing, null, unknown or of the wrong type keeps its default; flags read from numbers;
// 64-bit ids stay exact, and ids too large for a signed id or not whole are refused, not wrapped.
TEST(DeviceMessage, ReadsOnlyValuesOfTheRightType)
{
    const auto expected = [](auto set) {
        DeviceMessage message;
        set(message);
        return message;
    };
    const struct {
        const char* text;
        DeviceMessage message;
    } cases[] = {
        {"{}", {}},
        {R"({"isLock":true,"client":42,"colour":"red"})", expected([](auto& m) { m.isLock = true; m.client = 42; })},
        {R"({"isLock":null,"client":null,"name":null,"canShare":null})", {}},
        {R"({"name":5,"ip":["x"],"AesKey":true,"isShare":"yes","isLock":{},"client":"42","canShare":true,
             "slideType":1.5,"clientMode":null})", {}},
        {R"({"isShare":1,"speaker":0,"isStop":2.5,"isLock":-1,"isVisible":0.0})",
         expected([](auto& m) { m.isShare = m.isStop = m.isLock = true; })},
        {R"({"client":9007199254740993})", expected([](auto& m) { m.client = 9007199254740993; })},
        {R"({"client":9223372036854775807})", expected([](auto& m) { m.client = INT64_MAX; })},
        {R"({"client":-9223372036854775808})", expected([](auto& m) { m.client = INT64_MIN; })},
        {R"({"client":42.0})", expected([](auto& m) { m.client = 42; })},
        {R"({"client":9223372036854775808})", {}},
        {R"({"client":18446744073709551615})", {}},
        {R"({"client":1e19})", {}},
        {R"({"client":9223372036854775808.0})", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fromText(c.text), c.message) << c.text;
    EXPECT_EQ(DeviceMessage(nlohmann::json::array({1, 2})), DeviceMessage());
}

TEST(DeviceMessage, ReadsAListAndSkipsEntriesThatAreNotObjects)
{
    const auto list = DeviceMessage::listFromJson(R"([{"name":"a","client":1},3,"x",null,[],{"name":"b","client":2}])");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].name, "a");
    EXPECT_EQ((*list)[1].client, 2);
    EXPECT_TRUE(DeviceMessage::listFromJson("[]")->empty());
    for (const char* text : {"", "{}", "not json", "[{\"name\":\"a\"}", "\"[]\""})
        EXPECT_FALSE(DeviceMessage::listFromJson(text)) << text;
}
