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

} // namespace
