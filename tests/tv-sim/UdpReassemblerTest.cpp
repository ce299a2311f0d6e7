#include "Socket/MessageType.h"
#include "tv-sim/UdpReassembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t kF = 4;

struct Completed {
    TransportFrameHeader header;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> datagram(uint16_t type, uint32_t id, uint8_t count, uint8_t index,
                              std::vector<uint8_t> fragment, uint64_t timeStamp = 1)
{
    TransportFrameHeader header{.sequence = id,
                                .type = type,
                                .fragmentCount = count,
                                .fragmentIndex = index,
                                .fragmentLength = static_cast<uint32_t>(fragment.size()),
                                .timeStamp = timeStamp};
    std::vector<uint8_t> bytes(TransportFrameHeader::kSize);
    header.encode(bytes);
    bytes.insert(bytes.end(), fragment.begin(), fragment.end());
    return bytes;
}

struct UdpReassemblerTest : ::testing::Test {
    std::vector<Completed> completed;
    UdpReassembler reassembler{kF, [this](const TransportFrameHeader& header, std::span<const uint8_t> payload) {
                                   completed.push_back({header, {payload.begin(), payload.end()}});
                               }};
};

TEST_F(UdpReassemblerTest, InterleavedOutOfOrderAndRepeatedFragmentsMakeWholeMessages)
{
    using R = UdpReassembler::Result;
    // Video and audio message 1 share the id but not the stream.
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 3, 2, {9})), R::Accepted);
    EXPECT_EQ(reassembler.add(datagram(kMsgAudioFrame, 1, 2, 1, {7, 7})), R::Accepted);
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 3, 0, {1, 2, 3, 4})), R::Accepted);
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 3, 0, {1, 2, 3, 4})), R::Accepted);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 3, 1, {5, 6, 7, 8})), R::Completed);
    EXPECT_EQ(reassembler.add(datagram(kMsgAudioFrame, 1, 2, 0, {6, 6, 6, 6})), R::Completed);
    EXPECT_EQ(reassembler.add(datagram(kMsgAudioFrame, 2, 1, 0, {})), R::Completed);

    ASSERT_EQ(completed.size(), 3u);
    EXPECT_EQ(completed[0].header.type, kMsgVideoFrame);
    EXPECT_EQ(completed[0].header.fragmentLength, 9u);
    EXPECT_EQ(completed[0].payload, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(completed[1].payload, (std::vector<uint8_t>{6, 6, 6, 6, 7, 7}));
    EXPECT_EQ(completed[2].header.sequence, 2u);
    EXPECT_TRUE(completed[2].payload.empty());
    EXPECT_EQ(reassembler.pending(), 0u);
}

TEST_F(UdpReassemblerTest, RefusesDatagramsThatCannotBelongToAWellFormedMessage)
{
    using R = UdpReassembler::Result;
    EXPECT_EQ(reassembler.add(std::vector<uint8_t>(10)), R::Malformed);            // shorter than a header
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 0, 0, {1})), R::Malformed); // count 0
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 2, 2, {1})), R::Malformed); // index past count
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 2, 0, {1, 2})), R::Malformed); // short non-last
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 2, 1, {1, 2, 3, 4, 5})), R::Malformed); // over F
    EXPECT_EQ(reassembler.add(datagram(kMsgVideoFrame, 1, 2, 1, {})), R::Malformed); // empty last of two
    auto lying = datagram(kMsgVideoFrame, 1, 1, 0, {1, 2});
    lying.pop_back(); // the header announces more than the datagram holds
    EXPECT_EQ(reassembler.add(lying), R::Malformed);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(reassembler.pending(), 0u);
}

TEST_F(UdpReassemblerTest, AReusedIdStartsAfreshAndPendingMessagesAreBounded)
{
    reassembler.add(datagram(kMsgVideoFrame, 1, 2, 0, {1, 1, 1, 1}, 100));
    // A new sender counts from 0 again: same id, another message.
    reassembler.add(datagram(kMsgVideoFrame, 1, 2, 1, {2}, 200));
    EXPECT_TRUE(completed.empty());
    reassembler.add(datagram(kMsgVideoFrame, 1, 2, 0, {3, 3, 3, 3}, 200));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].payload, (std::vector<uint8_t>{3, 3, 3, 3, 2}));

    for (uint32_t id = 0; id < UdpReassembler::kMaxPending + 5; ++id)
        reassembler.add(datagram(kMsgAudioFrame, id, 2, 0, {0, 0, 0, 0}));
    EXPECT_EQ(reassembler.pending(), UdpReassembler::kMaxPending);
}

} // namespace
