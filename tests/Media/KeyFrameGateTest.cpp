#include "Media/EncoderH264/KeyFrameGate.h"

#include <gtest/gtest.h>

#include <vector>

TEST(KeyFrameGate, ADropHoldsBackDeltaUnitsUntilAKeyFrameGetsThrough)
{
    int requests = 0;
    KeyFrameGate gate([&] { ++requests; });
    EXPECT_TRUE(gate.admits(false));
    gate.handedOver(false, true);
    EXPECT_EQ(requests, 0);

    gate.handedOver(false, false);
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(gate.admits(false));
    EXPECT_TRUE(gate.admits(true));
    // A key frame dropped too: asked for again, still closed.
    gate.handedOver(true, false);
    EXPECT_EQ(requests, 2);
    EXPECT_FALSE(gate.admits(false));
    gate.handedOver(true, true);
    EXPECT_TRUE(gate.admits(false));
}

TEST(KeyFrameGate, TheFirstSliceTellsAKeyFrame)
{
    // SPS, PPS, IDR slice / a delta slice / a unit cut before its NAL header / no start code.
    EXPECT_TRUE(KeyFrameGate::isKeyFrame(std::vector<uint8_t>{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0,
                                                              0, 1, 0x65, 0x88}));
    EXPECT_FALSE(KeyFrameGate::isKeyFrame(std::vector<uint8_t>{0, 0, 0, 1, 0x41, 0x9A}));
    EXPECT_FALSE(KeyFrameGate::isKeyFrame(std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_FALSE(KeyFrameGate::isKeyFrame(std::vector<uint8_t>{0x65, 0x88}));
}
