#include "Socket/TCPManagerTestSupport.h"

#include "Media/SoundPreferences.h"
#include "Platform/PulseMemoryDevices.h"
#include "Socket/MessageType.h"
#include "Socket/ResendSpsPpsFlag.h"
#include "Session/LinkCaptureFailure.h"
#include "Session/LinkOutputVolume.h"
#include "Session/LinkSessionKey.h"
#include "Session/ResendSpsPpsRequest.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

using Outcome = TvSim::KeyExchangeOutcome;

class LinkHooksTest : public TCPManagerFixture {
protected:
    LinkHooksTest() : TCPManagerFixture(tvOptions(true)) {}

    void SetUp() override
    {
        TCPManagerFixture::SetUp();
        gResendSpsPpsFlag = 0;
    }
};

TEST_F(LinkHooksTest, TheSessionKeyIsTheLinksCurrentOne)
{
    const LinkSessionKey key(manager);
    EXPECT_EQ(key.sessionKey(), nullptr) << "no link";
    connectAndGreet();
    ASSERT_EQ(tv.keyExchange().waitForOutcome(), Outcome::Agreed);
    ASSERT_NE(key.sessionKey(), nullptr);
    EXPECT_EQ(*key.sessionKey(), tv.keyExchange().sessionKey());

    tv.closeLink();
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    EXPECT_EQ(key.sessionKey(), nullptr);
}

TEST_F(LinkHooksTest, ACaptureFailureReleasesTheLinkFromTheMainQueue)
{
    connectAndGreet();
    LinkCaptureFailure failure(manager);
    // As the capture queue reports it: from a thread of its own, returning at once.
    std::thread([&failure] { failure.captureFailed(); }).join();
    EXPECT_TRUE(tv.connected()) << "the release waits for the main queue";
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    EXPECT_TRUE(tv.waitForDisconnect());
    EXPECT_EQ(manager.getConnectTvIp(), "0.0.0.0");
}

TEST_F(LinkHooksTest, TheTvsRequestForTheParameterSetsIsConsumedOnce)
{
    ResendSpsPpsRequest request;
    EXPECT_FALSE(request.consume());
    connectAndGreet();
    ASSERT_TRUE(tv.send(kMsgRequestSpsPps));
    syncWithManager();
    EXPECT_TRUE(request.consume());
    EXPECT_FALSE(request.consume());
    EXPECT_EQ(gResendSpsPpsFlag, 0);
}

// The volume as the sound server reports it, through SoundPreferences' rule of sending each new
// value once, to the TV as a 4-byte big-endian integer.
TEST_F(LinkHooksTest, EachNewOutputVolumeReachesTheTvBigEndian)
{
    connectAndGreet();
    auto devices = std::make_shared<PulseMemoryDevices>();
    devices->addDevice({.kind = PulseDevice::Kind::Sink, .index = 1, .name = "speakers", .description = "Speakers"});
    devices->setDefaultDevice(PulseDevice::Kind::Sink, "speakers");
    SoundPreferences preferences(devices, std::make_shared<LinkOutputVolume>(manager));
    preferences.addAudioOutputVolumeListener();
    for (const float volume : {0.5f, 0.5f, 0.999f, 0.0f})
        devices->changeVolume(PulseDevice::Kind::Sink, "speakers", volume);
    preferences.removeAudioOutputVolumeListener();

    // Messages of one list leave in order: once the marker is in, every volume sent before it is.
    ASSERT_TRUE(manager.sendType(kMsgKeyDown, nullptr, 0));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgKeyDown, 1));
    const auto sent = tv.received(kMsgOutputVolume);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].payload, (std::vector<uint8_t>{0, 0, 0, 50}));
    EXPECT_EQ(sent[1].payload, (std::vector<uint8_t>{0, 0, 0, 99}));
    EXPECT_EQ(sent[2].payload, (std::vector<uint8_t>{0, 0, 0, 0}));

    LinkOutputVolume(manager).outputVolumeChanged(-2);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgOutputVolume, 4));
    EXPECT_EQ(tv.received(kMsgOutputVolume)[3].payload, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFE}));
}

} // namespace
