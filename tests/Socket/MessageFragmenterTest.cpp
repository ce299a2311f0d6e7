#include "FrameTestSupport.h"
#include "Socket/MessageFragmenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

TransportFrameHeader headerOf(const std::vector<uint8_t>& fragment)
{
    return TransportFrameHeader::decode(fragment).value();
}

} // namespace

TEST(MessageFragmenter, CutsAtTheTcpFragmentSize)
{
    MessageFragmenter fragmenter;

    const auto empty = cutMessage(fragmenter, 3, 0x10, 99, {});
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].size(), 24u);
    EXPECT_EQ(headerOf(empty[0]), (TransportFrameHeader{kTransportMagic, 3, 0x10, 1, 0, 0, 99}));

    const auto exact = cutMessage(fragmenter, 4, 0x2002, 5, patternBytes(65'536, 1));
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_EQ(headerOf(exact[0]).fragmentLength, 65'536u);

    const auto payload = patternBytes(65'537, 2);
    const auto split = cutMessage(fragmenter, 5, 0x2002, 6, payload);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(headerOf(split[0]), (TransportFrameHeader{kTransportMagic, 5, 0x2002, 2, 0, 65'536, 6}));
    EXPECT_EQ(headerOf(split[1]), (TransportFrameHeader{kTransportMagic, 5, 0x2002, 2, 1, 1, 6}));
    EXPECT_EQ(split[1].back(), payload.back());
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 65'536, split[0].begin() + 24));
}

TEST(MessageFragmenter, SendsAtMost255FragmentsAndRefusesMore)
{
    MessageFragmenter fragmenter;
    const std::vector<uint8_t> largest(255 * 65'536, 0x5A);
    unsigned writes = 0;
    TransportFrameHeader last;
    const auto sent = fragmenter.send(1, 0x2002, 2, largest, [&](std::span<const uint8_t> fragment) {
        ++writes;
        last = TransportFrameHeader::decode(fragment).value();
        return true;
    });
    EXPECT_EQ(sent.status, MessageFragmenter::Status::Sent);
    EXPECT_EQ(sent.bytesWritten, 255 * (24 + 65'536u));
    EXPECT_EQ(writes, 255u);
    EXPECT_EQ(last.fragmentCount, 255u);
    EXPECT_EQ(last.fragmentIndex, 254u);

    const std::vector<uint8_t> oneByteMore(largest.size() + 1);
    writes = 0;
    const auto refused = fragmenter.send(2, 0x2002, 2, oneByteMore, [&](std::span<const uint8_t>) {
        ++writes;
        return true;
    });
    EXPECT_EQ(refused.status, MessageFragmenter::Status::TooManyFragments);
    EXPECT_EQ(refused.bytesWritten, 0u);
    EXPECT_EQ(writes, 0u);
}

TEST(MessageFragmenter, FailedWriteAbandonsTheRest)
{
    auto fragmenter = MessageFragmenter::withFragmentSize(10);
    ASSERT_TRUE(fragmenter);
    std::vector<uint8_t> indexes;
    const auto result = fragmenter->send(1, 2, 3, patternBytes(25, 0), [&](std::span<const uint8_t> fragment) {
        indexes.push_back(TransportFrameHeader::decode(fragment)->fragmentIndex);
        return indexes.size() < 2;
    });
    EXPECT_EQ(result.status, MessageFragmenter::Status::WriteFailed);
    EXPECT_EQ(result.bytesWritten, 34u);
    EXPECT_EQ(indexes, (std::vector<uint8_t>{0, 1}));
}

TEST(MessageFragmenter, SideChannelSizesAndSelection)
{
    EXPECT_FALSE(MessageFragmenter::withFragmentSize(0));
    EXPECT_FALSE(MessageFragmenter::withFragmentSize(262'145));
    auto largest = MessageFragmenter::withFragmentSize(262'144);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->fragmentCount(262'144), 1u);
    EXPECT_EQ(largest->fragmentCount(262'145), 2u);
    EXPECT_EQ(largest->fragmentCount(0), 1u);
    EXPECT_EQ(largest->fragmentCount(uint64_t(1) << 40), uint64_t(1) << 22);

    auto fragmenter = MessageFragmenter::withFragmentSize(1);
    ASSERT_TRUE(fragmenter);
    const auto payload = patternBytes(40, 7);
    // Fragments 0, 2 and 31 of the first word; fragments 32-39 lie past the one-word selection.
    const std::vector<uint32_t> selection{0x80000005};
    std::vector<std::pair<unsigned, uint8_t>> written;
    const auto result = fragmenter->send(9, 0x2003, 1, payload, [&](std::span<const uint8_t> fragment) {
        written.emplace_back(TransportFrameHeader::decode(fragment)->fragmentIndex, fragment[24]);
        return true;
    }, selection);
    EXPECT_EQ(result.status, MessageFragmenter::Status::Sent);
    EXPECT_EQ(result.bytesWritten, 3 * 25u);
    const std::vector<std::pair<unsigned, uint8_t>> expected{{0, payload[0]}, {2, payload[2]}, {31, payload[31]}};
    EXPECT_EQ(written, expected);
}
