#include "FrameTestSupport.h"
#include "Socket/FrameStreamSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct SentMessage {
    uint32_t sequence;
    uint16_t type;
    uint64_t timeStamp;
    std::vector<uint8_t> payload;
};

class FrameStreamSplitterTest : public ::testing::Test {
protected:
    // Appends the message's fragments to the stream and remembers what was sent.
    void send(std::vector<uint8_t> payload, uint16_t type = 0x2002)
    {
        const auto sequence = static_cast<uint32_t>(sent.size());
        for (const auto& fragment : cutMessage(fragmenter, sequence, type, 5'000 + sequence, payload))
            stream.insert(stream.end(), fragment.begin(), fragment.end());
        sent.push_back({sequence, type, 5'000 + sequence, std::move(payload)});
    }

    // Reads the stream in pieces of the lengths `nextRead` gives, as the receive loop would.
    template <typename NextRead>
    void receive(NextRead nextRead, std::span<const uint8_t> bytes)
    {
        size_t offset = 0;
        while (offset < bytes.size()) {
            const auto space = splitter.writableSpace();
            ASSERT_FALSE(space.empty());
            const size_t count = std::min({nextRead(), space.size(), bytes.size() - offset});
            std::copy_n(bytes.begin() + offset, count, space.begin());
            ASSERT_EQ(splitter.commit(count), FrameStreamSplitter::Status::Ok);
            offset += count;
        }
    }

    void receiveAll() { receive([] { return SIZE_MAX; }, stream); }

    void expectDeliveredAsSent()
    {
        ASSERT_EQ(sink.messages.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            const auto& got = sink.messages[i];
            EXPECT_EQ(got.header.sequence, sent[i].sequence);
            EXPECT_EQ(got.header.type, sent[i].type);
            EXPECT_EQ(got.header.timeStamp, sent[i].timeStamp);
            EXPECT_EQ(got.header.fragmentLength, sent[i].payload.size());
            EXPECT_TRUE(got.payload == sent[i].payload) << "message " << i;
            EXPECT_EQ(got.frame.size(), 24 + sent[i].payload.size() + 4);
        }
        EXPECT_EQ(splitter.bufferedBytes(), 0u);
    }

    MessageFragmenter fragmenter;
    CollectingReassembler sink;
    FrameStreamSplitter splitter{sink.reassembler};
    std::vector<uint8_t> stream;
    std::vector<SentMessage> sent;
};

} // namespace

TEST_F(FrameStreamSplitterTest, ByteAtATime)
{
    send(patternBytes(65'537, 2));
    send({});
    send(patternBytes(3, 3));
    receive([] { return size_t(1); }, stream);
    expectDeliveredAsSent();
}

// Many messages, the largest one among them, read in random pieces.
TEST_F(FrameStreamSplitterTest, RandomSplitsOfManyMessages)
{
    std::mt19937 random(20240611);
    const size_t sizes[] = {0, 1, 23, 24, 25, 1'000, 65'535, 65'536, 65'537, 131'073, 300'000};
    for (int i = 0; i < 200; ++i) {
        const size_t size = i % 3 == 0 ? sizes[random() % std::size(sizes)] : random() % 5'000;
        send(patternBytes(size, static_cast<uint8_t>(i)), static_cast<uint16_t>(0x2000 + i % 4));
        if (i == 100)
            send(patternBytes(255 * 65'536, 4));
    }
    std::uniform_int_distribution<size_t> readLength(1, 80'000);
    receive([&] { return readLength(random); }, stream);
    expectDeliveredAsSent();
    EXPECT_GE(sink.reassembler.capacity(), 24 + 255 * 65'536u + 4);
}

TEST_F(FrameStreamSplitterTest, LargestFragmentFillsTheStreamBuffer)
{
    const auto payload = patternBytes(TransportFrameHeader::kMaxFragmentLength, 6);
    stream = rawFragment({kTransportMagic, 0, 0x2003, 1, 0, TransportFrameHeader::kMaxFragmentLength, 1}, payload);
    ASSERT_EQ(stream.size(), FrameStreamSplitter::kBufferSize);
    receive([] { return size_t(100'000); }, stream);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_TRUE(sink.messages[0].payload == payload);
}

TEST_F(FrameStreamSplitterTest, CountZeroFragmentIsDroppedAndTheStreamGoesOn)
{
    send(patternBytes(5, 7));
    const auto bogus = rawFragment({kTransportMagic, 77, 0x2003, 0, 0, 3, 1}, std::vector<uint8_t>{1, 2, 3});
    stream.insert(stream.end(), bogus.begin(), bogus.end());
    send(patternBytes(6, 8));
    receive([] { return size_t(7); }, stream);
    expectDeliveredAsSent();
}

TEST_F(FrameStreamSplitterTest, OversizeFragmentEndsTheLinkAfterWhatCameBefore)
{
    send(patternBytes(5, 9));
    const uint32_t tooLong = TransportFrameHeader::kMaxFragmentLength + 1;
    const auto oversize = rawFragment({kTransportMagic, 1, 0x2002, 1, 0, tooLong, 0});
    stream.insert(stream.end(), oversize.begin(), oversize.end());

    const auto space = splitter.writableSpace();
    std::copy(stream.begin(), stream.end(), space.begin());
    EXPECT_EQ(splitter.commit(stream.size()), FrameStreamSplitter::Status::OversizeFragment);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].payload, sent[0].payload);
    EXPECT_EQ(splitter.bufferedBytes(), TransportFrameHeader::kSize);
}
