#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"

#include <gtest/gtest.h>

#include <string_view>

TEST(MessageCatalogue, EveryRowIsFoundByItsCode)
{
    const auto all = MessageCatalogue::all();
    EXPECT_EQ(all.size(), 81u);
    for (const MessageInfo& info : all) {
        EXPECT_EQ(MessageCatalogue::find(info.type), &info);
        EXPECT_TRUE(std::string_view(info.name).starts_with("kMsg")) << info.name;
        EXPECT_NE(info.direction, 0);
        EXPECT_NE(std::string_view(info.payload), "");
    }
    for (uint16_t unknown : {0x0000, 0x0006, 0x000B, 0x2004, 0x9102, 0xFFFF})
        EXPECT_EQ(MessageCatalogue::find(unknown), nullptr) << unknown;
}

TEST(MessageCatalogue, NamesAndRows)
{
    EXPECT_STREQ(MessageCatalogue::name(kMsgVideoFrame), "kMsgVideoFrame");
    EXPECT_STREQ(MessageCatalogue::name(0x2002), "kMsgVideoFrame");
    EXPECT_STREQ(MessageCatalogue::name(kMsgQualityChangeSupport), "kMsgQualityChangeSupport");
    EXPECT_STREQ(MessageCatalogue::name(0x1234), "unknown");

    const MessageInfo* request = MessageCatalogue::find(kMsgClientInfoRequest);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->direction, MessageInfo::kIn | MessageInfo::kEvent);
    EXPECT_STREQ(MessageCatalogue::find(kMsgRoziEnable)->payload, "CapabilityFlagPayload");
    EXPECT_EQ(MessageCatalogue::find(kMsgHeartbeat)->handling, MessageInfo::Handling::Transport);
    EXPECT_EQ(MessageCatalogue::find(kMsgAudioFrame)->handling, MessageInfo::Handling::Dropped);
    EXPECT_EQ(MessageCatalogue::find(kMsgKeyExchangeOffer)->handling, MessageInfo::Handling::Session);
}

TEST(MessageCatalogue, WhichReceivedTypesAreLoggedAsUnprocessed)
{
    EXPECT_FALSE(MessageCatalogue::logsUnprocessed(kMsgFilePushIgnored));
    EXPECT_FALSE(MessageCatalogue::logsUnprocessed(kMsgConnected));
    EXPECT_FALSE(MessageCatalogue::logsUnprocessed(kMsgServerInfo));
    EXPECT_TRUE(MessageCatalogue::logsUnprocessed(kMsgPeerIdentity));
    EXPECT_TRUE(MessageCatalogue::logsUnprocessed(0x1234));
    // A message only we send has no meaning when it comes back.
    EXPECT_TRUE(MessageCatalogue::logsUnprocessed(kMsgCastStop));
    EXPECT_TRUE(MessageCatalogue::logsUnprocessed(kMsgScroll));
}
