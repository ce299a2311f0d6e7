#include "UI/ToastPlacement.h"

#include <gtest/gtest.h>

namespace {

// A position outside the three known ones (a caller's bad value) shows the toast centred.
TEST(ToastPlacement, UnknownPositionsAreCentred)
{
    const ToastPlacement::Size window{800, 600};
    const ToastPlacement::Size toast{200, 40};
    for (const int position : {-1, 3, 7})
        EXPECT_EQ(ToastPlacement::origin(window, toast, position), (ToastPlacement::Origin{300, 280})) << position;
}

} // namespace
