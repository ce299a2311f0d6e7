#include "Media/AudioManager/AdtsHeader.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

// Golden headers worked out bit by bit: FFF sync, MPEG-2, no CRC, LC, index 4, two channels,
// 13-bit frame length (packet + 7) split 2/8/3 over bytes 3-5, fullness 0x7FF, one block.
TEST(AudioAdtsHeaderTest, HeaderBytesFollowTheFrameLength)
{
    EXPECT_EQ(AdtsHeader::forPacketLength(100), (Bytes{0xFF, 0xF9, 0x50, 0x80, 0x0D, 0x7F, 0xFC}));  // 107
    EXPECT_EQ(AdtsHeader::forPacketLength(0), (Bytes{0xFF, 0xF9, 0x50, 0x80, 0x00, 0xFF, 0xFC}));    // 7
    EXPECT_EQ(AdtsHeader::forPacketLength(2041), (Bytes{0xFF, 0xF9, 0x50, 0x81, 0x00, 0x1F, 0xFC}));  // 2048
    EXPECT_EQ(AdtsHeader::forPacketLength(8184), (Bytes{0xFF, 0xF9, 0x50, 0x83, 0xFF, 0xFF, 0xFC}));  // 8191
}

TEST(AudioAdtsHeaderTest, FramesTooLongForThirteenBitsAreRefused)
{
    EXPECT_FALSE(AdtsHeader::forPacketLength(8185));
    EXPECT_FALSE(AdtsHeader::forPacketLength(0xFFFFFFFF));  // must not wrap around to a short length
    EXPECT_FALSE(AdtsHeader::frame(Bytes(8185, 0x11)));

    auto frame = AdtsHeader::frame(Bytes(8184, 0x11));
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->size(), 8191u);
    EXPECT_EQ(Bytes(frame->begin(), frame->begin() + 7), *AdtsHeader::forPacketLength(8184));
    EXPECT_EQ((*frame)[7], 0x11);
}
