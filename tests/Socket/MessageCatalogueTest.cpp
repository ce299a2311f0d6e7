#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"

#include <gtest/gtest.h>

#include <string_view>

// Codes a peer may send that the table lacks are unknown and logged; of the known ones, those only
// we send have no meaning when they come back and are logged too.
TEST(MessageCatalogue, WhichReceivedTypesAreLoggedAsUnprocessed)
{
    for (uint16_t unknown : {0x0000, 0x0006, 0x000B, 0x2004, 0x9102, 0xFFFF}) {
        EXPECT_EQ(MessageCatalogue::find(unknown), nullptr) << unknown;
        EXPECT_STREQ(MessageCatalogue::name(unknown), "unknown");
        EXPECT_TRUE(MessageCatalogue::logsUnprocessed(unknown));
    }
    for (uint16_t quiet : {kMsgFilePushIgnored, kMsgConnected, kMsgServerInfo})
        EXPECT_FALSE(MessageCatalogue::logsUnprocessed(quiet)) << quiet;
    for (uint16_t logged : {kMsgPeerIdentity, kMsgCastStop, kMsgScroll})
        EXPECT_TRUE(MessageCatalogue::logsUnprocessed(logged)) << logged;
}
