#include "Socket/TCPManagerTestSupport.h"

#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderTestSupport.h"
#include "Session/PrivateXvfbFixture.h"
#include "Socket/MessageType.h"
#include "Socket/ResendSpsPpsFlag.h"
#include "Session/RecordManagerLink.h"
#include "Utils/EncryptedFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Outcome = TvSim::KeyExchangeOutcome;

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFps = 10;
constexpr int kNalSlice = 1;
constexpr int kNalIdrSlice = 5;
constexpr int kNalSps = 7;

bool hasNal(const std::vector<int>& types, int type)
{
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Unit i is a delta frame with the parameter sets in front, and not the one after a key frame
// (which always repeats them).
bool askedForParameterSets(const std::vector<std::vector<int>>& units, size_t i)
{
    return i > 0 && hasNal(units[i], kNalSps) && hasNal(units[i], kNalSlice) && !hasNal(units[i - 1], kNalIdrSlice);
}

// A whole-screen cast of a private Xvfb, bound to the link as the application binds it, sent to an
// encrypting, decoding TV as the controller sends it.
class RecordManagerLinkTest : public WithPrivateXvfb<TCPManagerFixture> {
protected:
    RecordManagerLinkTest() : WithPrivateXvfb(decodingTv()) {}

    static TvSim::Options decodingTv()
    {
        TvSim::Options options = tvOptions(true);
        options.decodeVideo = true;
        return options;
    }

    void SetUp() override
    {
        WithPrivateXvfb::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        gResendSpsPpsFlag = 0;
        connectAndGreet();
        ASSERT_EQ(tv.keyExchange().waitForOutcome(), Outcome::Agreed);
    }

    static int32_t sendFrame(void* user, const uint8_t* bytes, uint32_t length)
    {
        static_cast<TCPManager*>(user)->sendType(kMsgVideoFrame, bytes, static_cast<int>(length));
        return 0;
    }

    // The NAL unit types of every video frame the TV received, opened with its key.
    std::vector<std::vector<int>> receivedUnits()
    {
        const auto key = tv.keyExchange().sessionKey();
        std::vector<std::vector<int>> units;
        for (const auto& frame : tv.received(kMsgVideoFrame)) {
            const auto plain = key ? EncryptedFrame::open(frame.payload, *key) : std::nullopt;
            units.push_back(plain ? nalTypes(*plain) : std::vector<int>{});
        }
        return units;
    }
};

TEST_F(RecordManagerLinkTest, FramesSealedWithTheLinksKeyDecodeAndTheTvsRequestBringsTheParameterSets)
{
    RecordManager cast(recordManagerLink(manager), server->name());
    cast.SetCallback(&manager, &RecordManagerLinkTest::sendFrame);
    cast.StartRecord(kWidth, kHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(cast.IsStarted());
    ASSERT_TRUE(tv.decoder().waitForFrames(3));

    const auto before = receivedUnits();
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_FALSE(askedForParameterSets(before, i)) << "unit " << i << " before the TV asked";
    ASSERT_TRUE(tv.send(kMsgRequestSpsPps));
    ASSERT_TRUE(eventually([&] {
        const auto units = receivedUnits();
        for (size_t i = before.size(); i < units.size(); ++i)
            if (askedForParameterSets(units, i))
                return true;
        return false;
    }));
    EXPECT_EQ(gResendSpsPpsFlag, 0) << "the request was consumed";

    const size_t sent = tv.receivedCount(kMsgVideoFrame);
    ASSERT_TRUE(tv.decoder().waitForFrames(sent));
    cast.StopRecord();
    cast.deallocRecord();
    EXPECT_EQ(tv.decoder().errors(), 0u);
    for (const auto& frame : tv.decoder().frames()) {
        EXPECT_EQ(frame.width, kWidth);
        EXPECT_EQ(frame.height, kHeight);
    }
    for (const auto& unit : receivedUnits())
        EXPECT_FALSE(unit.empty()) << "every frame opens with the link's key into Annex-B NAL units";
}

} // namespace
