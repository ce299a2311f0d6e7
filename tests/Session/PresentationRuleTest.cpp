#include "Session/CastingFixture.h"

#include "Session/PresentationRule.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(PresentationRuleTest, SlideshowProgramsReportTheirOwnOptions)
{
    EXPECT_EQ(PresentationRule::stateFor("com.apple.iWork.Keynote", 42), 1);
    EXPECT_EQ(PresentationRule::stateFor("com.apple.iWork.Keynote", 10), 0);
    EXPECT_EQ(PresentationRule::stateFor("com.microsoft.Powerpoint", 10), 1);
    EXPECT_EQ(PresentationRule::stateFor("com.microsoft.Powerpoint", 42), 0);
    // Any case; the first word wins when both appear.
    EXPECT_EQ(PresentationRule::stateFor("org.example.KEYNOTE-powerpoint", 42), 1);
    EXPECT_EQ(PresentationRule::stateFor("org.example.POWERPOINT", 10), 1);
    EXPECT_EQ(PresentationRule::stateFor("org.example.editor", 42), std::nullopt);
    EXPECT_EQ(PresentationRule::stateFor("", 10), std::nullopt);
}

class PresentationReportTest : public CastingFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = CastingFixture::services();
        s.frontmostBundleId = [this] { return frontmost; };
        return s;
    }

    std::string frontmost;
};

// The report goes out whether or not a cast runs, as a host-order 32-bit integer; other programs
// and other key paths send nothing.
TEST_F(PresentationReportTest, TheFrontmostSlideshowIsReportedToTheTv)
{
    connect();
    frontmost = "com.apple.iWork.Keynote";
    casting().presentationOptionsChanged(PresentationRule::kKeyPath, 42);
    casting().presentationOptionsChanged("someOtherKeyPath", 42);
    frontmost = "org.example.editor";
    casting().presentationOptionsChanged(PresentationRule::kKeyPath, 42);
    frontmost = "com.microsoft.Powerpoint";
    casting().presentationOptionsChanged(PresentationRule::kKeyPath, 42);

    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgPresentationState, 2));
    const auto reports = sim.received(kMsgPresentationState);
    ASSERT_EQ(reports.size(), 2u);
    int32_t values[2];
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(reports[i].payload.size(), sizeof(int32_t));
        std::memcpy(&values[i], reports[i].payload.data(), sizeof(int32_t));
    }
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 0);
}

} // namespace
