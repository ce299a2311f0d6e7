#include "FrameTestSupport.h"
#include "Socket/FrameReassembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class FrameReassemblerTest : public ::testing::Test {
protected:
    // Feeds fragment `index` of `count` of message `sequence`.
    void feed(uint32_t sequence, uint8_t count, uint8_t index, std::vector<uint8_t> payload)
    {
        const TransportFrameHeader header{kTransportMagic, sequence, 0x3001, count, index,
                                          static_cast<uint32_t>(payload.size()), 1000 + sequence};
        sink.reassembler.add(header, payload);
    }

    std::vector<CollectedMessage>& delivered() { return sink.messages; }

    CollectingReassembler sink;
};

} // namespace

TEST_F(FrameReassemblerTest, EmptyPayloadArrivesAsLengthZeroWithTerminator)
{
    EXPECT_EQ(sink.reassembler.capacity(), 2'101'248u);
    feed(0, 1, 0, {});
    ASSERT_EQ(delivered().size(), 1u);
    const auto& message = delivered()[0];
    EXPECT_TRUE(message.payload.empty());
    EXPECT_EQ(message.header, (TransportFrameHeader{kTransportMagic, 0, 0x3001, 1, 0, 0, 1000}));
    ASSERT_EQ(message.frame.size(), 28u);
    EXPECT_EQ(TransportFrameHeader::decode(message.frame), message.header);
    EXPECT_EQ(std::vector<uint8_t>(message.frame.begin() + 24, message.frame.end()), std::vector<uint8_t>(4, 0));
}

TEST_F(FrameReassemblerTest, NewFragmentZeroAbandonsTheMessageUnderWay)
{
    feed(1, 2, 0, {1, 1});
    feed(2, 1, 0, {2, 2, 2});
    feed(1, 2, 1, {1});
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].header.sequence, 2u);
    EXPECT_EQ(delivered()[0].payload, (std::vector<uint8_t>{2, 2, 2}));
}

TEST_F(FrameReassemblerTest, IgnoresFragmentsOfOtherMessages)
{
    // Nothing matches before the first fragment 0, not even the initial sequence.
    feed(0xFFFFFFFF, 2, 1, {9});
    feed(5, 3, 0, {0, 0});
    feed(6, 3, 1, {9, 9});
    feed(5, 4, 1, {9, 9});
    feed(5, 3, 1, {1, 1});
    EXPECT_TRUE(delivered().empty());
    feed(5, 3, 2, {2});
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].payload, (std::vector<uint8_t>{0, 0, 1, 1, 2}));
    EXPECT_EQ(delivered()[0].header.fragmentLength, 5u);
}

TEST_F(FrameReassemblerTest, RepeatedFragmentIsCopiedAgainButCountedOnce)
{
    feed(7, 3, 0, {0, 0});
    feed(7, 3, 1, {1, 1});
    feed(7, 3, 1, {3, 3});
    EXPECT_TRUE(delivered().empty());
    feed(7, 3, 2, {2, 2});
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].payload, (std::vector<uint8_t>{0, 0, 3, 3, 2, 2}));
}

TEST_F(FrameReassemblerTest, DropsFragmentsThatCannotFit)
{
    feed(8, 3, 0, {0, 0});
    feed(8, 3, 3, {9, 9});       // index past the count
    feed(8, 3, 2, {9, 9, 9});    // longer than fragment 0
    feed(8, 3, 1, {9});          // a middle fragment shorter than its slot would leave a gap
    feed(8, 3, 1, {1, 1});
    EXPECT_TRUE(delivered().empty());
    feed(8, 3, 2, {2});
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].payload, (std::vector<uint8_t>{0, 0, 1, 1, 2}));
    EXPECT_EQ(delivered()[0].frame.size(), 24 + 5 + 4u);
    EXPECT_EQ(delivered()[0].frame.back(), 0);
}

TEST_F(FrameReassemblerTest, CountZeroAndMismatchedLengthsAreDroppedWithoutDisturbingTheMessage)
{
    feed(9, 2, 0, {0});
    feed(10, 0, 0, {7});
    // A header whose length disagrees with the bytes given.
    sink.reassembler.add({kTransportMagic, 9, 0x3001, 2, 1, 5, 0}, std::vector<uint8_t>{1});
    EXPECT_TRUE(delivered().empty());
    feed(9, 2, 1, {1});
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].payload, (std::vector<uint8_t>{0, 1}));
}

TEST_F(FrameReassemblerTest, BufferGrowsInAllocationStepsAndKeepsRoomForTheTerminator)
{
    // 9 x 237,110 payload bytes and the header end 2 bytes short of a 4,096 multiple: no room for
    // the terminator, so one more step.
    const std::vector<uint8_t> fragment(237'110, 0x42);
    for (uint8_t index = 0; index < 9; ++index)
        feed(11, 9, index, fragment);
    EXPECT_EQ(sink.reassembler.capacity(), 522 * 4'096u);
    ASSERT_EQ(delivered().size(), 1u);
    EXPECT_EQ(delivered()[0].payload.size(), 9 * 237'110u);
    EXPECT_EQ(delivered()[0].frame.back(), 0);

    // It never shrinks.
    feed(12, 1, 0, {1});
    EXPECT_EQ(sink.reassembler.capacity(), 522 * 4'096u);
    EXPECT_EQ(delivered().size(), 2u);
}
