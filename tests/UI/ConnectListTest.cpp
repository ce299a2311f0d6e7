#include "UI/ConnectList.h"
#include "UI/ConnectListDelegate.h"
#include "Utils/LocalizedText.h"
#include "Session/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Button = ConnectListItem::Button;
using TextColor = ConnectListItem::TextColor;

DeviceMessage sender(int64_t client, const std::string& name)
{
    DeviceMessage message;
    message.client = client;
    message.name = name;
    return message;
}

class RecordingDelegate final : public ConnectListDelegate {
public:
    std::vector<std::string> calls;

    void hiddenConnectList() override { calls.push_back("hiddenConnectList"); }
    void reportConnectNum(size_t count) override { calls.push_back("reportConnectNum " + std::to_string(count)); }
};

// The panel alone, in front of the recording view and a link that is not connected.
class ConnectListTest : public ::testing::Test {
protected:
    ConnectListTest() { list.setDelegate(&delegate); }

    TCPManager link{SessionFixture::linkOptions()};
    RecordingView view;
    RecordingDelegate delegate;
    ConnectList list{view, link};
};

TEST_F(ConnectListTest, ALockedSenderLeavesCastChangesToItselfAndTheSpeaker)
{
    DeviceMessage locked = sender(1, "Ann");
    locked.isLock = true;
    DeviceMessage speaker = sender(2, "Bob");
    speaker.speaker = true;
    speaker.isShare = true;
    DeviceMessage casting = sender(3, "Cy");
    casting.isShare = true;
    const DeviceMessage idle = sender(4, "Dee");
    list.listData({locked, speaker, casting, idle});

    ASSERT_TRUE(list.existLockDevice());
    ASSERT_EQ(view.rows.size(), 4u);
    const std::vector<Button> mirror{{"MirrorClose", true}, {"MirrorOpen", true}, {"MirrorClose", false},
                                     {"MirrorClose", false}};
    const std::vector<Button> lock{{"SelectedBox", true}, {"UnSelectedBox", true}, {"UnSelectedBox", true},
                                   {"UnSelectedBox", true}};
    const std::vector<Button> speakerBtn{{"UnSpeakerIcon", true}, {"SpeakerIcon", true}, {"UnSpeakerIcon", true},
                                         {"UnSpeakerIcon", true}};
    const std::vector<TextColor> colors{TextColor::White, TextColor::Blue, TextColor::Blue, TextColor::White};
    for (size_t row = 0; row < view.rows.size(); ++row) {
        SCOPED_TRACE(row);
        const ConnectListItem& item = view.rows[row];
        EXPECT_EQ(item.numLabel(), std::to_string(row + 1));
        EXPECT_EQ(item.mirrorBtn(), mirror[row]);
        EXPECT_EQ(item.lockBtn(), lock[row]);
        EXPECT_EQ(item.speakerBtn(), speakerBtn[row]);
        EXPECT_EQ(item.textColor(), colors[row]);
    }
    EXPECT_EQ(view.last("reloadData"), "reloadData 4 Ann Bob Cy Dee");

    // The next list without a lock gives every cast button back.
    list.listData({casting, idle});
    EXPECT_FALSE(list.existLockDevice());
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].mirrorBtn(), (Button{"MirrorOpen", true}));
    EXPECT_EQ(view.rows[1].mirrorBtn(), (Button{"MirrorClose", true}));
    EXPECT_EQ(view.rows[1].numLabel(), "2");
}

TEST_F(ConnectListTest, ReverseControlIsRefusedOnlyToTheListedModesSpelledExactly)
{
    struct Case {
        const char* mode;
        bool isReverseMirroring;
        Button shown;
    };
    const Case cases[] = {
        {"Miracast", true, {"ReverseClose", false}},   {"AirPlay", false, {"ReverseClose", false}},
        {"Dlna", true, {"ReverseClose", false}},       {"GoogleCast", true, {"ReverseClose", false}},
        {"Webcast", true, {"ReverseClose", false}},    {"miracast", true, {"ReverseOpen", true}},
        {"Miracast ", true, {"ReverseOpen", true}},    {"", false, {"ReverseClose", true}},
        {"Mac", true, {"ReverseOpen", true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("mode '") + c.mode + "'");
        DeviceMessage message = sender(7, "Eve");
        message.clientMode = c.mode;
        message.isReverseMirroring = c.isReverseMirroring;
        list.listData({message});
        ASSERT_EQ(view.rows.size(), 1u);
        EXPECT_EQ(view.rows[0].reverseBtn(), c.shown);
    }
}

TEST_F(ConnectListTest, AnEmptyListCountsNoneAndTheDelegateMayBeMissing)
{
    list.listData({});
    EXPECT_EQ(list.numberOfItems(), 0u);
    EXPECT_FALSE(list.item(0));
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"reportConnectNum 0"}));
    EXPECT_EQ(view.last("setDeviceCountTitle"),
              "setDeviceCountTitle " + LocalizedText::format("STRING_DEVICE_COUNT", {"0"}));
    EXPECT_EQ(view.last("reloadData"), "reloadData 0");
    list.clickHiddenBtn();
    EXPECT_EQ(delegate.calls.back(), "hiddenConnectList");

    list.setDelegate(nullptr);
    list.listData({sender(1, "Ann"), sender(2, "Bob")});
    list.clickHiddenBtn();
    EXPECT_EQ(delegate.calls.size(), 2u);
    EXPECT_EQ(view.last("setDeviceCountTitle"),
              "setDeviceCountTitle " + LocalizedText::format("STRING_DEVICE_COUNT", {"2"}));
    EXPECT_FALSE(list.item(2));
}

// The panel inside a session with a TV peer on 127.0.0.1, this computer the speaker.
class ConnectListSessionTest : public SessionFixture {
protected:
    void SetUp() override
    {
        SessionFixture::SetUp();
        makeController();
        connectTyped();
        ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvMessages::int32(1)));
        ASSERT_TRUE(runUntil([this] { return state().isSpeaker; }));
    }

    // The rows after the TV's list has come.
    const std::vector<ConnectListItem>& listFromTv(const std::string& json)
    {
        const size_t before = view.callsStartingWith("reloadData").size();
        EXPECT_TRUE(tv.sendClientList(json));
        EXPECT_TRUE(waitForView("reloadData", before + 1));
        return view.rows;
    }

    TvMessageCursor atTv{tv};
};

using Bytes = std::vector<uint8_t>;

TEST_F(ConnectListSessionTest, ARequestAsksForTheOppositeOfTheRecordAsLastReceived)
{
    const auto& rows = listFromTv(R"([{"name":"Ann","client":1}])");
    ASSERT_EQ(rows.size(), 1u);
    const Bytes lockAnn{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1};
    rows[0].lockEvent();
    EXPECT_EQ(atTv.next(kMsgClientLock), lockAnn);
    // Nothing came back from the TV: the row is as it was and the same click asks the same again.
    EXPECT_EQ(view.rows[0].lockBtn().image, "UnSelectedBox");
    view.rows[0].lockEvent();
    EXPECT_EQ(atTv.next(kMsgClientLock), lockAnn);

    // The TV's next list brings the new state.
    const auto& after = listFromTv(R"([{"name":"Ann","client":1,"isLock":true}])");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].lockBtn().image, "SelectedBox");
    after[0].lockEvent();
    EXPECT_EQ(atTv.next(kMsgClientLock), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

} // namespace
