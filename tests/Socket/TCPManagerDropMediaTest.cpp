#include "Socket/TCPManagerTestSupport.h"

#include "Socket/MessageType.h"
#include "Socket/SendLists.h"
#include "Socket/UdpChannelOpenPayload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

namespace {

using MediaCount = TvSim::MediaCount;

constexpr uint8_t kMarker = 0x77;
// Large enough that the socket buffers of a TV that stopped reading fill in a few hundred frames.
constexpr size_t kFrameBytes = 60'000;

// A cast's frames behind a TV that stopped reading, then the stop.
class TCPManagerDropMediaTest : public TCPManagerFixture {
protected:
    void SetUp() override
    {
        TCPManagerFixture::SetUp();
        connectAndGreet();
    }

    bool send(uint16_t type, const std::vector<uint8_t>& payload)
    {
        return manager.sendType(type, payload.data(), static_cast<int>(payload.size()));
    }

    // Sends frames of the type until its send list stays full for a while: the send thread, held
    // by a TV that reads nothing, takes no more. How many were taken.
    size_t fillUntilStalled(uint16_t type)
    {
        const std::vector<uint8_t> frame(kFrameBytes, 0x11);
        size_t taken = 0;
        std::optional<std::chrono::steady_clock::time_point> refusedSince;
        while (taken <= 10'000) {
            if (send(type, frame)) {
                ++taken;
                refusedSince.reset();
                continue;
            }
            const auto now = std::chrono::steady_clock::now();
            if (!refusedSince)
                refusedSince = now;
            else if (now - *refusedSince > 100ms)
                return taken;
            std::this_thread::sleep_for(1ms);
        }
        ADD_FAILURE() << "the send list never filled";
        return taken;
    }

    // The stop as the controller sends it, then a marker frame of the type, which the send thread
    // serves after every media frame still queued; reading again, until the marker is in.
    void stopAndResume(uint16_t markerType)
    {
        manager.dropQueuedMedia();
        ASSERT_TRUE(manager.sendType(kMsgCastStop, nullptr, 0));
        ASSERT_TRUE(send(markerType, {kMarker}));
        tv.setReading(true);
        ASSERT_TRUE(tv.waitUntil([markerType](const std::vector<ReceivedMessage>& messages) {
            return !messages.empty() && messages.back().type == markerType && messages.back().payload ==
                                                                                  std::vector<uint8_t>{kMarker};
        }));
    }

    // Every media frame the TV got over TCP before the stop arrived whole.
    void expectWholeFramesBeforeTheStop()
    {
        for (const auto& message : tv.received()) {
            if (message.type == kMsgCastStop)
                break;
            const bool media = message.type == kMsgVideoFrame || message.type == kMsgAudioFrame;
            if (media && message.road == ReceivedMessage::Road::Tcp) {
                EXPECT_EQ(message.length, kFrameBytes);
            }
        }
    }
};

TEST_F(TCPManagerDropMediaTest, NoQueuedFrameFollowsTheStop)
{
    tv.setReading(false);
    // The socket's buffers took frames before the list filled.
    EXPECT_GT(fillUntilStalled(kMsgVideoFrame), SendLists::kVideoCapacity);
    EXPECT_EQ(fillUntilStalled(kMsgAudioFrame), SendLists::kAudioCapacity);

    stopAndResume(kMsgVideoFrame);
    EXPECT_EQ(tv.mediaAfterCastStop(), (MediaCount{.video = 1, .audio = 0})) << "the marker alone";
    expectWholeFramesBeforeTheStop();
}

TEST_F(TCPManagerDropMediaTest, MediaSentOverTheSideChannelIsNotQueued)
{
    ASSERT_TRUE(tv.openUdpChannel(UdpChannelOpenPayload::kRouteVideo, 1'000));
    syncWithManager();
    tv.setReading(false);
    EXPECT_GT(fillUntilStalled(kMsgAudioFrame), SendLists::kAudioCapacity);
    // Never refused: each frame leaves at once as datagrams, while the TCP lists are full.
    const std::vector<uint8_t> video(900, 0x22);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(send(kMsgVideoFrame, video));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgVideoFrame, 10));

    stopAndResume(kMsgAudioFrame);
    EXPECT_EQ(tv.mediaAfterCastStop(), (MediaCount{.video = 0, .audio = 1})) << "the marker alone";
    expectWholeFramesBeforeTheStop();
}

// Senders, the send thread, and drops from the main thread and the session queue at once.
TEST_F(TCPManagerDropMediaTest, DroppingIsSafeFromAnyThreadWhileFramesFlow)
{
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        const std::vector<uint8_t> frame(4'000, 0x33);
        while (sending) {
            send(kMsgVideoFrame, frame);
            send(kMsgAudioFrame, frame);
        }
    });
    for (int i = 0; i < 200; ++i) {
        manager.dropQueuedMedia();
        manager.processQueue()->async([this] { manager.dropQueuedMedia(); });
        std::this_thread::yield();
    }
    manager.processQueue()->sync([] {});
    sending = false;
    sender.join();

    manager.dropQueuedMedia();
    ASSERT_TRUE(manager.sendType(kMsgCastStop, nullptr, 0));
    ASSERT_TRUE(send(kMsgVideoFrame, {kMarker}));
    ASSERT_TRUE(tv.waitUntil([](const std::vector<ReceivedMessage>& messages) {
        return !messages.empty() && messages.back().payload == std::vector<uint8_t>{kMarker};
    }));
    EXPECT_EQ(tv.mediaAfterCastStop(), (MediaCount{.video = 1, .audio = 0}));
}

TEST_F(TCPManagerDropMediaTest, DroppingWithoutALinkDoesNothing)
{
    manager.tcpClientRelease();
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    manager.dropQueuedMedia();
    EXPECT_FALSE(manager.sendType(kMsgCastStop, nullptr, 0));
}

} // namespace
