#include "App/SystemAppServices.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemAppServicesTest, TheTvPortIsTheUsualOneUnlessAWholePortIsNamed)
{
    EXPECT_EQ(SystemAppServices::tvPort(nullptr), 6666);
    EXPECT_EQ(SystemAppServices::tvPort(""), 6666);
    EXPECT_EQ(SystemAppServices::tvPort("40123"), 40123);
    EXPECT_EQ(SystemAppServices::tvPort("65535"), 65535);
    for (const char* bad : {"0", "65536", "-1", "12ab", " 80", "80 ", "4294967297", "0x50"})
        EXPECT_EQ(SystemAppServices::tvPort(bad), 6666) << bad;
}

TEST(SystemAppServicesTest, OnlyAnExplicitOffStopsDiscovery)
{
    EXPECT_TRUE(SystemAppServices::discoveryRuns(nullptr));
    EXPECT_TRUE(SystemAppServices::discoveryRuns(""));
    EXPECT_TRUE(SystemAppServices::discoveryRuns("on"));
    EXPECT_FALSE(SystemAppServices::discoveryRuns("off"));
}

} // namespace
