#include "MainWindowFixture.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/ConnectListItemWidget.h"
#include "UI/Qt/ConnectListWidget.h"
#include "Session/ConnectionController.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

using Bytes = std::vector<uint8_t>;

// Four senders: Ann locked, Bob the speaker and casting, Cy on Miracast with reverse control, Dee idle.
constexpr const char* kFourSenders = R"([
    {"name":"Ann","client":1,"isLock":true,"clientMode":"Mac"},
    {"name":"Bob","client":2,"speaker":true,"isShare":true,"isReverseMirroring":true,"clientMode":"Mac"},
    {"name":"Cy","client":3,"clientMode":"Miracast","isReverseMirroring":true},
    {"name":"Dee","client":4,"clientMode":"Windows"}])";

// The main window connected to a TV peer on 127.0.0.1 through the session controller, this computer
// the speaker.
class SendersPanelViewTest : public MainWindowSessionFixture {
protected:
    void SetUp() override
    {
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
        ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvSim::int32(1)));
        ASSERT_TRUE(processUntil([&] { return control<QToolButton>("ballBtn")->isVisible(); }));
    }

    ConnectListWidget* panel() const { return window.findChild<ConnectListWidget*>("connectListView"); }
    QList<ConnectListItemWidget*> rowsAfter(const char* json)
    {
        EXPECT_TRUE(tv.sendClientList(json));
        EXPECT_TRUE(processUntil([&] { return panel()->rows().size() == static_cast<qsizetype>(expectedRows(json)); }));
        return panel()->rows();
    }
    static size_t expectedRows(const char* json)
    {
        return DeviceMessage::listFromJson(json).value_or(std::vector<DeviceMessage>{}).size();
    }

    TvMessageCursor atTv{tv};
};

TEST_F(SendersPanelViewTest, TheBallOpensThePanelAndAClickBesideFoldsIt)
{
    rowsAfter(kFourSenders);
    auto* ball = control<QToolButton>("ballBtn");
    auto* count = control<QToolButton>("connectNumBtn");
    EXPECT_TRUE(count->isVisible());
    EXPECT_EQ(count->text(), "4");
    EXPECT_FALSE(panel()->isVisible());
    screenshot("senders-ball");
    expectTextsFromTheTable(window, {"4", "Living Room", "127.0.0.1"});

    QTest::mouseClick(ball, Qt::LeftButton);
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_FALSE(ball->isVisible());
    // A press inside the open panel leaves it open; one beside it, on the window's background, folds it.
    QTest::mouseClick(control<QLabel>("ballTitle"), Qt::LeftButton);
    EXPECT_TRUE(panel()->isVisible());
    QTest::mouseClick(control<QLabel>("deviceName"), Qt::LeftButton);
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_TRUE(ball->isVisible());

    QTest::mouseClick(count, Qt::LeftButton);
    EXPECT_TRUE(panel()->isVisible());
    QTest::mouseClick(control<QToolButton>("hiddenBtn"), Qt::LeftButton);
    EXPECT_FALSE(panel()->isVisible());

    // Without a controller the rows, which speak to its link, go.
    window.setController(nullptr);
    EXPECT_TRUE(panel()->rows().isEmpty());
}

TEST_F(SendersPanelViewTest, RowsShowTheirSendersAndTheirButtonsReachTheTv)
{
    const auto rows = rowsAfter(kFourSenders);
    ASSERT_EQ(rows.size(), 4);
    QTest::mouseClick(control<QToolButton>("ballBtn"), Qt::LeftButton);
    EXPECT_EQ(control<QPushButton>("deviceCount")->text().toStdString(),
              LocalizedText::format("STRING_DEVICE_COUNT", {"4"}));
    EXPECT_EQ(control<QLabel>("nameLabel", rows[1])->text(), "Bob");
    EXPECT_EQ(control<QLabel>("numLabel", rows[3])->text(), "4");
    // Ann is locked: Dee's casting cannot be changed; Cy's mode takes no reverse control.
    EXPECT_FALSE(control<QToolButton>("mirrorBtn", rows[3])->isEnabled());
    EXPECT_FALSE(control<QToolButton>("reverseBtn", rows[2])->isEnabled());
    EXPECT_TRUE(control<QToolButton>("reverseBtn", rows[1])->isEnabled());
    screenshot("senders-panel");
    expectTextsFromTheTable(window, {"Ann", "Bob", "Cy", "Dee", "1", "2", "3", "4", "Living Room", "127.0.0.1"});

    QTest::mouseClick(control<QToolButton>("lockBtn", rows[0]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientLock), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
    QTest::mouseClick(control<QToolButton>("lockBtn", rows[3]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientLock), (Bytes{0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1}));
    QTest::mouseClick(control<QToolButton>("speakerBtn", rows[3]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientSpeaker), (Bytes{0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1}));
    QTest::mouseClick(control<QToolButton>("mirrorBtn", rows[1]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientMirror), (Bytes{0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0}));
    QTest::mouseClick(control<QToolButton>("reverseBtn", rows[1]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientReverse), (Bytes{0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0}));
    QTest::mouseClick(control<QToolButton>("deleteBtn", rows[2]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientRemove), (Bytes{0, 0, 0, 0, 0, 0, 0, 3}));
    // A disabled button sends nothing.
    QTest::mouseClick(control<QToolButton>("mirrorBtn", rows[3]), Qt::LeftButton);
    EXPECT_EQ(panel()->rows(), rows) << "the rows wait for the TV's next list";

    const auto one = rowsAfter(R"([{"name":"Dee","client":1}])");
    ASSERT_EQ(one.size(), 1);
    QTest::mouseClick(control<QToolButton>("lockBtn", one[0]), Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgClientLock), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(tv.receivedCount(kMsgClientMirror), 1u);
}

TEST_F(SendersPanelViewTest, TheSwitchesAskTheTvAndShowWhatItReports)
{
    QTest::mouseClick(control<QToolButton>("ballBtn"), Qt::LeftButton);
    auto* divide = control<QToolButton>("divideBtn");
    // The panel's own switch, not a row's button of the same name.
    auto* reverse = panel()->findChild<QToolButton*>("reverseBtn", Qt::FindDirectChildrenOnly);
    ASSERT_NE(reverse, nullptr);
    QTest::mouseClick(divide, Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgSplitScreen), (Bytes{0, 0, 0, 1}));
    QTest::mouseClick(reverse, Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgReverseSwitch), (Bytes{0, 0, 0, 1}));

    // The TV refuses the split screen and takes reverse control.
    ASSERT_TRUE(tv.send(kMsgSplitScreen, TvSim::int32(0)));
    ASSERT_TRUE(tv.send(kMsgReverseSwitch, TvSim::int32(1)));
    EXPECT_TRUE(processUntil([&] { return !divide->isChecked(); }));
    EXPECT_TRUE(reverse->isChecked());
    QTest::mouseClick(reverse, Qt::LeftButton);
    EXPECT_EQ(atTv.next(kMsgReverseSwitch), (Bytes{0, 0, 0, 0}));
}

} // namespace
