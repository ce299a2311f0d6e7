#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"

#include <gtest/gtest.h>

#include <string_view>

// The table is looked up by code: every row must be found as itself, unknown codes not at all.
TEST(MessageCatalogue, EveryRowIsFoundByItsCodeAndUnknownCodesAreNot)
{
    for (const MessageInfo& info : MessageCatalogue::all()) {
        EXPECT_EQ(MessageCatalogue::find(info.type), &info) << info.name;
        EXPECT_STREQ(MessageCatalogue::name(info.type), info.name);
    }
    for (uint16_t unknown : {0x0000, 0x0006, 0x000B, 0x2004, 0x9102, 0xFFFF}) {
        EXPECT_EQ(MessageCatalogue::find(unknown), nullptr) << unknown;
        EXPECT_STREQ(MessageCatalogue::name(unknown), "unknown");
        EXPECT_TRUE(MessageCatalogue::logsUnprocessed(unknown));
    }
}

TEST(MessageCatalogue, WhichReceivedTypesAreLoggedAsUnprocessed)
{
    for (uint16_t quiet : {kMsgFilePushIgnored, kMsgConnected, kMsgServerInfo})
        EXPECT_FALSE(MessageCatalogue::logsUnprocessed(quiet)) << quiet;
    // A message only we send has no meaning when it comes back.
    for (uint16_t logged : {kMsgPeerIdentity, kMsgCastStop, kMsgScroll})
        EXPECT_TRUE(MessageCatalogue::logsUnprocessed(logged)) << logged;
}
