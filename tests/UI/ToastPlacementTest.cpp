#include "UI/LocalizedText.h"
#include "UI/ToastPlacement.h"

#include <gtest/gtest.h>

namespace {

TEST(ToastPlacement, PositionsAreTopBottomOrCentred)
{
    const ToastPlacement::Size window{800, 600};
    const ToastPlacement::Size toast{200, 40};
    EXPECT_EQ(ToastPlacement::origin(window, toast, 0), (ToastPlacement::Origin{300, 480}));
    EXPECT_EQ(ToastPlacement::origin(window, toast, 2), (ToastPlacement::Origin{300, 80}));
    EXPECT_EQ(ToastPlacement::origin(window, toast, 1), (ToastPlacement::Origin{300, 280}));
    EXPECT_EQ(ToastPlacement::origin(window, toast, 7), ToastPlacement::origin(window, toast, 1));
    EXPECT_EQ(ToastPlacement::origin(window, toast, -1), ToastPlacement::origin(window, toast, 1));
}

TEST(LocalizedText, KnownKeysHaveTextsAndUnknownOnesShowThemselves)
{
    EXPECT_EQ(LocalizedText::text("STRING_CONNECT_FAIL"), "Connection failed");
    EXPECT_EQ(LocalizedText::text("STRING_NO_CONNECTED"), "Not connected");
    EXPECT_NE(LocalizedText::text("STRIGN_IP_FORMAT_ERROR"), "STRIGN_IP_FORMAT_ERROR");
    EXPECT_EQ(LocalizedText::text("STRING_NOT_A_KEY"), "STRING_NOT_A_KEY");
    EXPECT_EQ(LocalizedText::text(""), "");
}

} // namespace
