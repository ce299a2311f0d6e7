#include "Socket/TcpClientTestSupport.h"
#include "Socket/UdpChannel.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Datagram {
    TransportFrameHeader header;
    std::vector<uint8_t> payload;
};

// Plays the TV's end of the side channel.
class TvSocket {
public:
    TvSocket()
    {
        const int receiveBuffer = 1 << 20;
        ::setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }

    const sockaddr_in& address() const { return socket_.address(); }

    // The next count datagrams, each header decoded; fewer when they stop coming.
    std::vector<Datagram> take(size_t count)
    {
        std::vector<Datagram> datagrams;
        std::vector<uint8_t> buffer(TransportFrameHeader::kSize + TransportFrameHeader::kMaxFragmentLength);
        while (datagrams.size() < count && readable(socket_.fd(), 5'000ms)) {
            const ssize_t length = ::recv(socket_.fd(), buffer.data(), buffer.size(), 0);
            if (length < static_cast<ssize_t>(TransportFrameHeader::kSize))
                break;
            const auto header = TransportFrameHeader::decode(buffer).value();
            EXPECT_EQ(header.magic, kTransportMagic);
            EXPECT_EQ(header.fragmentLength + TransportFrameHeader::kSize, static_cast<size_t>(length));
            datagrams.push_back({header, {buffer.begin() + TransportFrameHeader::kSize, buffer.begin() + length}});
        }
        EXPECT_EQ(datagrams.size(), count);
        return datagrams;
    }
    std::vector<uint32_t> takeIds(size_t count)
    {
        std::vector<uint32_t> ids;
        for (const Datagram& datagram : take(count))
            ids.push_back(datagram.header.sequence);
        return ids;
    }
    // True when nothing more arrives (a late datagram could only hide a fault, never invent one).
    bool quiet() { return !readable(socket_.fd(), 200ms); }

private:
    LoopbackSocket socket_{SOCK_DGRAM};
};

uint64_t nowMicroseconds()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

std::vector<uint32_t> idRun(uint32_t first, uint32_t last)
{
    std::vector<uint32_t> ids;
    for (uint32_t id = first; id <= last; ++id)
        ids.push_back(id);
    return ids;
}

class UdpChannelTest : public testing::Test {
protected:
    std::shared_ptr<UdpChannel> openChannel(uint32_t fragmentSize)
    {
        auto channel = UdpChannel::open(tv.address(), fragmentSize, histories);
        EXPECT_NE(channel, nullptr);
        return channel;
    }

    // Sends count small messages of the type, each one datagram, and takes them off the wire.
    void sendSmall(UdpChannel& channel, uint16_t type, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            channel.send(type, patternBytes(8, static_cast<uint8_t>(i)));
        tv.take(count);
    }

    StreamHistories histories;
    TvSocket tv;
};

} // namespace

TEST_F(UdpChannelTest, CutsMessagesAtTheFragmentSize)
{
    auto channel = openChannel(100);
    ASSERT_TRUE(channel);

    const uint64_t before = nowMicroseconds();
    const auto exact = patternBytes(100, 1);
    EXPECT_EQ(channel->send(kMsgVideoFrame, exact), 124);
    const auto whole = tv.take(1);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].header, (TransportFrameHeader{kTransportMagic, 0, kMsgVideoFrame, 1, 0, 100,
                                                     whole[0].header.timeStamp}));
    EXPECT_EQ(whole[0].payload, exact);
    EXPECT_GE(whole[0].header.timeStamp, before);
    EXPECT_LE(whole[0].header.timeStamp, nowMicroseconds());

    const auto longer = patternBytes(101, 2);
    EXPECT_EQ(channel->send(kMsgVideoFrame, longer), 24 + 100 + 24 + 1);
    const auto split = tv.take(2);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[1].header.sequence, 1u);
    EXPECT_EQ(split[1].header.fragmentIndex, 1u);
    EXPECT_EQ(split[1].payload, std::vector<uint8_t>{longer.back()});

    // Each stream numbers its own messages; an empty payload is one bare header.
    EXPECT_EQ(channel->send(kMsgAudioFrame, {}), 24);
    const auto empty = tv.take(1);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].header.sequence, 0u);
    EXPECT_EQ(empty[0].header.fragmentLength, 0u);
}

TEST_F(UdpChannelTest, KeepsTheNewest30MessagesOfEachStream)
{
    auto channel = openChannel(100);
    ASSERT_TRUE(channel);
    sendSmall(*channel, kMsgTouchDown, 31);

    channel->resendFragments({kMsgTouchDown, 0, {0xFFFFFFFF}});
    EXPECT_TRUE(tv.quiet());

    // A one-fragment message goes out whole whatever the bitmap says; an unknown stream is "other".
    channel->resendFragments({0x1234, 1, {}});
    const auto again = tv.take(1);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].header.sequence, 1u);
    EXPECT_EQ(again[0].header.type, kMsgTouchDown);
    EXPECT_EQ(again[0].payload, patternBytes(8, 1));

    channel->resendRange({kMsgTouchUp, 0, 0, UdpResendRangePayload::kFromOldest | UdpResendRangePayload::kThroughNewest});
    EXPECT_EQ(tv.takeIds(30), idRun(1, 30));

    // The histories outlive the channel: a new channel continues the ids and resends what was kept.
    channel->close();
    channel = openChannel(100);
    ASSERT_TRUE(channel);
    sendSmall(*channel, kMsgTouchDown, 1);
    channel->resendFragments({kMsgTouchDown, 31, {}});
    EXPECT_EQ(tv.takeIds(1), std::vector<uint32_t>{31});
    channel->resendFragments({kMsgTouchDown, 1, {}});
    EXPECT_TRUE(tv.quiet());
}

TEST_F(UdpChannelTest, ResendsOnlyTheFragmentsTheBitmapSelects)
{
    auto channel = openChannel(10);
    ASSERT_TRUE(channel);
    const auto payload = patternBytes(395, 7); // 40 fragments, the last of 5 bytes
    EXPECT_EQ(channel->send(kMsgVideoFrame, payload), 40 * 24 + 395);
    tv.take(40);

    channel->resendFragments({kMsgVideoFrame, 0, {(1u << 0) | (1u << 2) | (1u << 5), 1u << (39 - 32)}});
    const auto picked = tv.take(4);
    ASSERT_EQ(picked.size(), 4u);
    const std::vector<unsigned> indices{0, 2, 5, 39};
    for (size_t i = 0; i < picked.size(); ++i) {
        const unsigned index = indices[i];
        EXPECT_EQ(picked[i].header.fragmentIndex, index);
        EXPECT_EQ(picked[i].header.fragmentCount, 40u);
        EXPECT_EQ(picked[i].header.fragmentLength, index == 39 ? 5u : 10u);
        EXPECT_TRUE(std::equal(picked[i].payload.begin(), picked[i].payload.end(), payload.begin() + index * 10));
    }
    EXPECT_TRUE(tv.quiet());

    // A short bitmap selects nothing past its end; an empty one selects nothing at all.
    channel->resendFragments({kMsgVideoFrame, 0, {0xFFFFFFFF}});
    const auto firstWord = tv.take(32);
    ASSERT_EQ(firstWord.size(), 32u);
    EXPECT_EQ(firstWord.back().header.fragmentIndex, 31u);
    EXPECT_TRUE(tv.quiet());
    channel->resendFragments({kMsgVideoFrame, 0, {}});
    EXPECT_TRUE(tv.quiet());
}

TEST_F(UdpChannelTest, ResendsARangeAsItsFlagsSay)
{
    auto channel = openChannel(100);
    ASSERT_TRUE(channel);
    channel->resendRange({kMsgAudioFrame, 0, 10, 0});
    EXPECT_TRUE(tv.quiet());

    sendSmall(*channel, kMsgAudioFrame, 10);
    constexpr uint32_t kOldest = UdpResendRangePayload::kFromOldest, kNewest = UdpResendRangePayload::kThroughNewest;
    const struct {
        uint32_t first, end, flags;
        std::vector<uint32_t> ids;
    } cases[] = {
        {5, 7, 0, {5, 6, 7}},
        {99, 3, kOldest, {0, 1, 2}},
        {5, 0, kNewest, idRun(5, 9)},
        {99, 0, kOldest | kNewest, idRun(0, 9)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        channel->resendRange({kMsgAudioFrame, c.first, c.end, c.flags});
        EXPECT_EQ(tv.takeIds(c.ids.size()), c.ids);
    }
    EXPECT_TRUE(tv.quiet());

    // After eviction the oldest kept id is the start, and a range past what is kept sends nothing.
    sendSmall(*channel, kMsgAudioFrame, 25);
    channel->resendRange({kMsgAudioFrame, 0, 7, kOldest});
    EXPECT_EQ(tv.takeIds(2), (std::vector<uint32_t>{5, 6}));
    channel->resendRange({kMsgAudioFrame, 35, 40, 0});
    EXPECT_TRUE(tv.quiet());
}

TEST_F(UdpChannelTest, RefusesFragmentSizesThatCannotTravel)
{
    // Fragments above 65,483 bytes don't fit one IPv4 datagram with their header.
    for (const uint32_t size : {0u, 65'484u, 262'144u, 262'145u, 0xFFFFFFFFu})
        EXPECT_EQ(UdpChannel::open(tv.address(), size, histories), nullptr) << size;
    EXPECT_TRUE(openChannel(1));
    auto largest = openChannel(65'483);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->send(kMsgVideoFrame, std::vector<uint8_t>(65'483)), 65'507);
}

TEST_F(UdpChannelTest, LeavesMessagesOfMoreThan255FragmentsToTheCaller)
{
    auto channel = openChannel(4);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->send(kMsgVideoFrame, std::vector<uint8_t>(255 * 4 + 1)), std::nullopt);
    EXPECT_TRUE(tv.quiet());
    channel->resendRange({kMsgVideoFrame, 0, 0, UdpResendRangePayload::kFromOldest | UdpResendRangePayload::kThroughNewest});
    EXPECT_TRUE(tv.quiet());

    // The refused message took no id.
    EXPECT_EQ(channel->send(kMsgVideoFrame, patternBytes(3, 1)), 27);
    EXPECT_EQ(tv.takeIds(1), std::vector<uint32_t>{0});
    EXPECT_EQ(channel->send(kMsgVideoFrame, std::vector<uint8_t>(255 * 4)), 255 * (24 + 4));
}

TEST_F(UdpChannelTest, CloseWhileOthersSendFreesTheChannelAfterTheLastSender)
{
    auto channel = openChannel(1000);
    ASSERT_TRUE(channel);
    std::weak_ptr<UdpChannel> watch = channel;

    constexpr int kSenders = 4;
    std::atomic<int> warmedUp{0};
    std::atomic<bool> closed{false};
    std::atomic<int> sawClosed{0};
    std::atomic<bool> release{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i, sender = channel] {
            const uint16_t types[] = {kMsgVideoFrame, kMsgAudioFrame, kMsgTouchMove, kMsgVideoFrame};
            const auto payload = patternBytes(2500, static_cast<uint8_t>(i));
            for (int round = 0; !closed; ++round) {
                if (i == kSenders - 1)
                    sender->resendRange({kMsgVideoFrame, 0, 0, UdpResendRangePayload::kThroughNewest});
                else
                    sender->send(types[i], payload);
                if (round == 20)
                    ++warmedUp;
            }
            for (int round = 0; round < 10; ++round) {
                if (sender->send(types[i], payload) != 0)
                    ++failures;
            }
            ++sawClosed;
            while (!release)
                std::this_thread::yield();
        });
    }
    while (warmedUp < kSenders)
        std::this_thread::yield();
    channel->close();
    closed = true;
    channel->close();
    channel.reset();
    while (sawClosed < kSenders)
        std::this_thread::yield();
    EXPECT_FALSE(watch.expired()); // the senders still hold it
    release = true;
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(watch.expired());
}
