#include "Socket/TCPManagerTestSupport.h"

#include "Socket/MessageType.h"
#include "Socket/ResendSpsPpsFlag.h"
#include "Socket/ServerInfoRecord.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

struct Expected {
    std::string name;
    std::string args;
    Where where;
};

// One message from the TV and the delegate calls it has to make, in order.
struct Row {
    const char* label;
    uint16_t type;
    std::vector<uint8_t> payload;
    std::vector<Expected> calls;
};

constexpr Where kQueue = Where::Queue;
constexpr Where kAtOnce = Where::Transport;

std::vector<uint8_t> text(const std::string& value)
{
    return TvMessages::text(value);
}

std::vector<Row> eventTable()
{
    const std::string list = R"([{"ip":"10.0.0.2","name":"Mac","client":7,"isShare":true}])";
    const std::string offer = R"({"url":"http://10.0.0.9:9000","files":[{"id":"1","name":"a.txt"}]})";
    return {
        {"screen code", kMsgScreenCode, text("AB12CD"), {{"onReceiveScreenCode", "AB12CD", kQueue}}},
        {"empty screen code", kMsgScreenCode, {}, {{"onReceiveScreenCode", "", kQueue}}},
        {"tv version above 75", kMsgTvVersion, TvMessages::int32(76),
         {{"tvAppVersion", "76", kAtOnce}, {"enableRoziFunction", "1", kAtOnce}}},
        {"tv version 75", kMsgTvVersion, TvMessages::int32(75), {{"tvAppVersion", "75", kAtOnce}}},
        {"server information", kMsgServerInfo, ServerInfoRecord{"Kitchen"}.encode(),
         {{"onConnectSuccess", "Kitchen", kQueue}}},
        {"short server information", kMsgServerInfo, std::vector<uint8_t>(39, 0), {}},
        {"screen stop", kMsgTvScreenStop, {}, {{"tvScreenStop", "", kAtOnce}}},
        {"screen fail", kMsgTvScreenFail, TvMessages::int32(3), {{"tvScreenFail", "3", kAtOnce}}},
        {"speaker", kMsgSpeakerStatus, TvMessages::int32(1),
         {{"changeControlStatus", "1", kAtOnce}, {"isSpeakerHandler", "1", kAtOnce}}},
        {"not speaker", kMsgSpeakerStatus, TvMessages::int32(2),
         {{"changeControlStatus", "0", kAtOnce}, {"isSpeakerHandler", "0", kAtOnce}}},
        {"speaker revoked 1", kMsgSpeakerRevoked, TvMessages::int32(1),
         {{"isSpeakerHandler", "0", kAtOnce}, {"changeControlStatus", "0", kAtOnce}}},
        {"speaker revoked 0", kMsgSpeakerRevoked, TvMessages::int32(0),
         {{"isSpeakerHandler", "0", kAtOnce}, {"tvScreenStop", "", kAtOnce}}},
        {"speaker revoked 2", kMsgSpeakerRevoked, TvMessages::int32(2), {{"isSpeakerHandler", "0", kAtOnce}}},
        {"control granted", kMsgControlGranted, {},
         {{"changeControlStatus", "1", kAtOnce},
          {"getWindowSizeSendTv", std::to_string(kMsgViewSize), kAtOnce},
          {"isSpeakerHandler", "1", kAtOnce}}},
        {"client list", kMsgClientList, text(list), {{"connectListMessage", list, kAtOnce}}},
        {"moderator button 0", kMsgModeratorButton0, TvMessages::int32(1), {{"changeButtonName", "0,1", kAtOnce}}},
        {"moderator button 1", kMsgModeratorButton1, TvMessages::int32(0), {{"changeButtonName", "1,0", kAtOnce}}},
        {"split screen", kMsgSplitScreen, TvMessages::int32(1), {{"changeButtonName", "2,1", kAtOnce}}},
        {"reverse switch", kMsgReverseSwitch, TvMessages::int32(1), {{"changeButtonName", "3,1", kAtOnce}}},
        {"screen resolution", kMsgTvScreenResolution, TvMessages::screenResolution(1920, 1080),
         {{"onReceiveScreenReaolution", "1920,1080", kAtOnce}}},
        {"short screen resolution", kMsgTvScreenResolution, {0, 0, 7}, {}},
        {"request cast", kMsgTvRequestCast, {}, {{"tvRequestMirror", "", kQueue}}},
        {"interrupt cast", kMsgTvInterruptCast, {}, {{"tvIntErruptMirror", "", kQueue}}},
        {"video quality", kMsgVideoQuality, TvMessages::videoQuality(1280, 720, 2, 30),
         {{"onVideoQuality", "2,1280,720,30", kQueue}}},
        {"short video quality", kMsgVideoQuality, std::vector<uint8_t>(19, 1), {}},
        {"file push ack", kMsgFilePushAck, {}, {{"pushFileSuccess", "", kAtOnce}}},
        {"file push ignored", kMsgFilePushIgnored, {}, {}},
        {"connected from the wire", kMsgConnected, text("1.2.3.4:5"), {}},
        {"peer identity", kMsgPeerIdentity, text("tv"), {}},
        {"unknown type", 0x7777, text("?"), {}},
        {"key code", kMsgKeyCode, TvMessages::keyCode(36), {{"tvKeyHandle", "36", kAtOnce}}},
        {"camera open", kMsgCameraOpenRequest, {}, {{"tvOpenRozi", "CAMERA", kAtOnce}}},
        {"mic open", kMsgMicOpenRequest, {}, {{"tvOpenRozi", "MIC", kAtOnce}}},
        {"camera error", kMsgCameraError, TvMessages::int32(5), {{"showRoziTipWindow", "5,2", kAtOnce}}},
        {"camera close", kMsgCameraClose, TvMessages::int32(6), {{"showRoziTipWindow", "6,2", kAtOnce}}},
        {"mic error", kMsgMicError, TvMessages::int32(7), {{"showRoziTipWindow", "7,1", kAtOnce}}},
        {"mic close", kMsgMicClose, TvMessages::int32(8), {{"showRoziTipWindow", "8,1", kAtOnce}}},
        {"camera data", kMsgCameraData, {1, 2, 3, 4, 5}, {{"onReveiveCameraVideoData", "5", kAtOnce}}},
        {"mic data", kMsgMicData, std::vector<uint8_t>(5'000, 0x5A), {{"handleMicDataToDecode", "5000", kAtOnce}}},
        {"active version", kMsgActiveVersion, TvMessages::int32(3), {{"activeVersionHandler", "3", kAtOnce}}},
        {"short integer", kMsgActiveVersion, {0, 5}, {{"activeVersionHandler", std::to_string(0x00050000), kAtOnce}}},
        {"relay enabled by absence", kMsgRoziEnable, {}, {{"enableRoziFunction", "1", kAtOnce}}},
        {"relay disabled", kMsgRoziEnable, TvMessages::capability(0), {{"enableRoziFunction", "0", kAtOnce}}},
        {"file share offer", kMsgFileShareOffer, text(offer), {{"tvShareFile2pc", offer, kAtOnce}}},
        {"quality change supported", kMsgQualityChangeSupport, TvMessages::capability(1),
         {{"supportChangeQuality", "1", kAtOnce}}},
        {"quality change not supported", kMsgQualityChangeSupport, TvMessages::capability(0),
         {{"supportChangeQuality", "0", kAtOnce}}},
    };
}

class TCPManagerEventsTest : public TCPManagerFixture {
protected:
    void SetUp() override
    {
        TCPManagerFixture::SetUp();
        connectAndGreet();
        syncWithManager();
        delegate.clear();
    }

    // The calls a message made: those before the marker that syncWithManager sends after it.
    std::vector<DelegateCall> callsFor(uint16_t type, std::span<const uint8_t> payload)
    {
        delegate.clear();
        EXPECT_TRUE(tv.send(type, payload));
        syncWithManager();
        auto calls = delegate.calls();
        std::erase_if(calls, [](const DelegateCall& call) { return call.name == "tvMirrorLock"; });
        return calls;
    }
};

TEST_F(TCPManagerEventsTest, EveryMessageReachesItsDelegateOnItsThread)
{
    std::set<std::thread::id> atOnceThreads;
    for (const Row& row : eventTable()) {
        SCOPED_TRACE(row.label);
        const auto calls = callsFor(row.type, row.payload);
        ASSERT_EQ(calls.size(), row.calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].name, row.calls[i].name);
            EXPECT_EQ(calls[i].args, row.calls[i].args);
            EXPECT_EQ(calls[i].where, row.calls[i].where);
            if (!calls[i].bytes.empty()) {
                EXPECT_EQ(calls[i].bytes, row.payload);
            }
            if (calls[i].where == kAtOnce)
                atOnceThreads.insert(calls[i].thread);
        }
    }
    // All on the one receive thread of the link.
    EXPECT_EQ(atOnceThreads.size(), 1u);
}

TEST_F(TCPManagerEventsTest, ScreenVideoComesOnTheDeliveryThread)
{
    std::vector<uint8_t> frame(200'000);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(tv.send(kMsgVideoFrame, frame));
    ASSERT_TRUE(delegate.waitFor("onReveiveScreenVideoData"));
    const auto video = delegate.calls("onReveiveScreenVideoData");
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].bytes, frame);
    EXPECT_EQ(video[0].where, kAtOnce);

    const auto control = callsFor(kMsgTvScreenStop, {});
    ASSERT_EQ(control.size(), 1u);
    EXPECT_NE(control[0].thread, video[0].thread);
}

TEST_F(TCPManagerEventsTest, RequestsAreActedOnWithoutADelegateCall)
{
    gResendSpsPpsFlag = 0;
    EXPECT_TRUE(callsFor(kMsgRequestSpsPps, {}).empty());
    EXPECT_EQ(gResendSpsPpsFlag.exchange(0), 1);

    const size_t before = tv.receivedCount(kMsgClientInfo);
    EXPECT_TRUE(callsFor(kMsgClientInfoRequest, {}).empty());
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgClientInfo, before + 1));
}

// The filter's own rules are PointerFilterTest's; here, that touches go through it to the queue.
TEST_F(TCPManagerEventsTest, TouchesPassTheFilterToTheSessionQueue)
{
    nowMs = 10'000;
    const auto down = TvMessages::touch(100, 200);
    auto calls = callsFor(kMsgTouchDown, down);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "onTvcontrolReceived");
    EXPECT_EQ(calls[0].args, std::to_string(kMsgTouchDown));
    EXPECT_EQ(calls[0].bytes, down);
    EXPECT_EQ(calls[0].where, kQueue);
    EXPECT_TRUE(callsFor(kMsgTouchUp, TvMessages::touch(102, 202, 1)).empty());
    nowMs = 11'001;
    calls = callsFor(kMsgTouchMove, TvMessages::touch(101, 201));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::to_string(kPointerLongPress));
    EXPECT_EQ(calls[0].where, kQueue);
}

TEST_F(TCPManagerEventsTest, ReverseInviteComesOnTheMainQueueASecondLaterEvenAfterTheLinkEnded)
{
    EXPECT_TRUE(callsFor(kMsgReverseInvite, {}).empty());
    tv.closeLink();
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    loop->advance(TCPManager::kReverseInviteDelay - 1ms);
    EXPECT_EQ(delegate.count("tvInviteToReverse"), 0u);
    loop->advance(1ms);
    const auto calls = delegate.calls("tvInviteToReverse");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].where, Where::Main);
}

// The TV hanging up, the TV removing us and a release here each end the link, reported once on the
// queue with why it ended: only the hang-up is the TV's doing.
TEST_F(TCPManagerEventsTest, TheEndOfTheLinkIsReportedOnTheQueueWithItsReason)
{
    const struct {
        const char* label;
        std::function<void()> end;
        LinkEndReason reason;
    } endings[] = {
        {"the TV hangs up", [this] { tv.closeLink(); }, LinkEndReason::TvClosed},
        {"the TV removes us", [this] { ASSERT_TRUE(tv.send(kMsgClientRemove)); }, LinkEndReason::Released},
        {"released here", [this] { manager.tcpClientRelease(); }, LinkEndReason::Released},
    };
    for (size_t i = 0; i < std::size(endings); ++i) {
        SCOPED_TRACE(endings[i].label);
        if (i > 0)
            connectAndGreet();
        endings[i].end();
        ASSERT_TRUE(tv.waitForDisconnect());
        ASSERT_TRUE(delegate.waitFor("onDisConnect", i + 1));
        EXPECT_EQ(delegate.calls("onDisConnect").back().where, kQueue);
        EXPECT_EQ(delegate.calls("onDisConnect").back().args, linkEndReasonName(endings[i].reason));
        // The queued close has closed the client.
        EXPECT_TRUE(delegate.waitUntil([&] { return manager.getConnectTvIp() == "0.0.0.0"; }));
        manager.processQueue()->sync([] {});
        EXPECT_EQ(delegate.count("onDisConnect"), i + 1);
    }
}

} // namespace
