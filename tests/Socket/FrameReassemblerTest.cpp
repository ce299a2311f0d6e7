#include "FrameTestSupport.h"
#include "Socket/FrameReassembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Fragment `index` of `count` of message `sequence`; `length` overrides the header's length.
struct Fragment {
    uint32_t sequence;
    uint8_t count, index;
    Bytes payload;
    int64_t length = -1;
};

void feed(FrameReassembler& reassembler, const Fragment& fragment)
{
    const auto length = fragment.length >= 0 ? static_cast<uint32_t>(fragment.length)
                                             : static_cast<uint32_t>(fragment.payload.size());
    reassembler.add({kTransportMagic, fragment.sequence, 0x3001, fragment.count, fragment.index, length,
                     1000 + fragment.sequence},
                    fragment.payload);
}

} // namespace

// Each case feeds fragments; only the last completes a message, whose payload must be `expected`.
TEST(FrameReassembler, DeliversOnlyWholeConsistentMessages)
{
    const struct {
        const char* label;
        std::vector<Fragment> fragments;
        Bytes expected;
    } cases[] = {
        {"a new fragment 0 abandons the message under way",
         {{1, 2, 0, {1, 1}}, {2, 2, 0, {2, 2}}, {1, 2, 1, {1}}, {2, 2, 1, {2}}}, {2, 2, 2}},
        {"fragments of other messages are ignored, even the initial sequence before any fragment 0",
         {{0xFFFFFFFF, 2, 1, {9}}, {5, 3, 0, {0, 0}}, {6, 3, 1, {9, 9}}, {5, 4, 1, {9, 9}}, {5, 3, 1, {1, 1}},
          {5, 3, 2, {2}}},
         {0, 0, 1, 1, 2}},
        {"a repeated fragment is copied again but counted once",
         {{7, 3, 0, {0, 0}}, {7, 3, 1, {1, 1}}, {7, 3, 1, {3, 3}}, {7, 3, 2, {2, 2}}}, {0, 0, 3, 3, 2, 2}},
        {"fragments that cannot fit are dropped: index past the count, longer than fragment 0, a short middle",
         {{8, 3, 0, {0, 0}}, {8, 3, 3, {9, 9}}, {8, 3, 2, {9, 9, 9}}, {8, 3, 1, {9}}, {8, 3, 1, {1, 1}}, {8, 3, 2, {2}}},
         {0, 0, 1, 1, 2}},
        {"a count of zero and a length that disagrees with the bytes are dropped without disturbing the message",
         {{9, 2, 0, {0}}, {10, 0, 0, {7}}, {9, 2, 1, {1}, 5}, {9, 2, 1, {1}}}, {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CollectingReassembler sink;
        for (const Fragment& fragment : c.fragments) {
            EXPECT_TRUE(sink.messages.empty());
            feed(sink.reassembler, fragment);
        }
        ASSERT_EQ(sink.messages.size(), 1u);
        const CollectedMessage& message = sink.messages[0];
        EXPECT_EQ(message.payload, c.expected);
        EXPECT_EQ(message.header.fragmentLength, c.expected.size());
        EXPECT_EQ(message.header.sequence, c.fragments.back().sequence);
        // The frame is the header, the payload and a 4-byte zero terminator.
        ASSERT_EQ(message.frame.size(), 24 + c.expected.size() + 4);
        EXPECT_EQ(TransportFrameHeader::decode(message.frame), message.header);
        EXPECT_EQ(Bytes(message.frame.end() - 4, message.frame.end()), Bytes(4, 0));
    }
}

TEST(FrameReassembler, EmptyPayloadArrivesAsLengthZeroWithTerminator)
{
    CollectingReassembler sink;
    feed(sink.reassembler, {0, 1, 0, {}});
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].header, (TransportFrameHeader{kTransportMagic, 0, 0x3001, 1, 0, 0, 1000}));
    EXPECT_EQ(sink.messages[0].frame, rawFragment(sink.messages[0].header, Bytes(4, 0)));
}

TEST(FrameReassembler, BufferGrowsInAllocationStepsAndKeepsRoomForTheTerminator)
{
    CollectingReassembler sink;
    EXPECT_EQ(sink.reassembler.capacity(), 2'101'248u);
    // 9 x 237,110 payload bytes and the header end 2 bytes short of a 4,096 multiple: no room for
    // the terminator, so one more step.
    const Bytes fragment(237'110, 0x42);
    for (uint8_t index = 0; index < 9; ++index)
        feed(sink.reassembler, {11, 9, index, fragment});
    EXPECT_EQ(sink.reassembler.capacity(), 522 * 4'096u);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].payload.size(), 9 * 237'110u);
    EXPECT_EQ(sink.messages[0].frame.back(), 0);

    // It never shrinks.
    feed(sink.reassembler, {12, 1, 0, {1}});
    EXPECT_EQ(sink.reassembler.capacity(), 522 * 4'096u);
    EXPECT_EQ(sink.messages.size(), 2u);
}
