#include "QtTestSupport.h"

#include "UI/CheckDeviceViewController.h"
#include "Session/ConnectionController.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/CheckDeviceView.h"
#include "UI/Qt/CollectionViewItem.h"
#include "UI/Qt/MainWindow.h"
#include "UI/Qt/SpinAnimation.h"
#include "Session/SessionTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

using namespace std::chrono_literals;

// The main window in front of the session controller, whose TVs all listen on `port` of 127.0.0.1.
class DeviceListSessionTest : public QtLoopFixture {
protected:
    void start(uint16_t port)
    {
        SessionServices services;
        services.link = &link;
        services.discovery.reset();
        services.tvPort = port;
        services.localAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
        controller = std::make_unique<MainWindowController>(window, std::move(services));
        window.setController(controller.get());
        controller->windowDidLoad();
        window.show();
    }
    ~DeviceListSessionTest() override
    {
        window.setController(nullptr);
        controller.reset();
    }

    // Discovery's reply from a TV and the end of its tick, as the discovery queue would give them.
    void hear(const std::string& reply)
    {
        CheckDeviceViewController& list = controller->connection().checkDeviceViewController();
        list.findTvDevicesInfo(reply);
        list.refreshTvDevicesList();
        controller->connection().applyPageRule();
    }
    CollectionViewItem* firstRow()
    {
        EXPECT_TRUE(processUntil([&] { return window.checkDeviceView()->numberOfItems() > 0; }));
        return window.checkDeviceView()->item(0);
    }

    MainWindow window;
    TCPManager link{SessionFixture::linkOptions()};
    std::unique_ptr<MainWindowController> controller;
};

TEST_F(DeviceListSessionTest, ThreeTvsAreListedOnTheDeviceListPage)
{
    start(6666);
    hear("192.168.1.20&Living Room&00:11:22:33:44:55&#AB12CD");
    hear("192.168.1.21&Meeting Room 2&00:11:22:33:44:56&#");
    hear("192.168.1.37&Office&00:11:22:33:44:57&#QW34ER");
    ASSERT_TRUE(processUntil([&] { return window.checkDeviceView()->numberOfItems() == 3; }));
    EXPECT_EQ(window.currentPage(), MainWindowPage::DeviceList);
    EXPECT_TRUE(window.findChild<QToolButton*>("refreshDevBtn")->isVisibleTo(&window));
    saveScreenshot(window, "device-list-three-tvs");
}

// The connect runs on the link's queue: while a TV that does not answer keeps the attempt waiting
// (up to 5 s), the main queue goes on serving, and the row shows its picture turning.
TEST_F(DeviceListSessionTest, ConnectingFromARowNeverHoldsTheMainQueue)
{
    StalledListener stalled;
    start(stalled.port());
    hear("127.0.0.1&Living Room&00:11:22:33:44:55&#AB12CD");
    CollectionViewItem* row = firstRow();
    ASSERT_NE(row, nullptr);
    row->connectBtn()->click();
    EXPECT_TRUE(row->isLoading());

    bool served = false;
    MainQueue::shared()->async([&] { served = true; });
    ASSERT_TRUE(processUntil([&] { return served; }));
    EXPECT_TRUE(row->isLoading()) << "the attempt is still under way";
    EXPECT_EQ(window.toastView(), nullptr) << "no failure reported yet";
    link.tcpClientRelease();
}

TEST_F(DeviceListSessionTest, AFailedConnectReloadsTheListAndRestoresTheButton)
{
    RefusingPort refusing;
    start(refusing.port());
    hear("127.0.0.1&Living Room&00:11:22:33:44:55&#AB12CD");
    CollectionViewItem* row = firstRow();
    ASSERT_NE(row, nullptr);
    row->connectBtn()->click();
    EXPECT_TRUE(row->isLoading());
    ASSERT_TRUE(processUntil([&] { return window.toastView() != nullptr; }));
    EXPECT_EQ(window.toastView()->message(), QString::fromStdString(LocalizedText::text("STRING_CONNECT_FAIL")));
    ASSERT_EQ(window.checkDeviceView()->numberOfItems(), 1);
    EXPECT_FALSE(window.checkDeviceView()->item(0)->isLoading());
    EXPECT_EQ(window.checkDeviceView()->item(0)->connectBtn()->text(),
              QString::fromStdString(LocalizedText::text("STRING_CONNECT")));
}

TEST_F(DeviceListSessionTest, TheRefreshButtonTurnsOnceAndAClickRestartsItsTurn)
{
    start(6666);
    hear("192.168.1.20&Living Room&00:11:22:33:44:55&#AB12CD");
    auto* refresh = window.findChild<QToolButton*>("refreshDevBtn");
    const qint64 atRest = refresh->icon().cacheKey();
    SpinAnimation* spin = window.refreshDevSpin();
    refresh->click();
    EXPECT_TRUE(spin->isRunning());
    ASSERT_TRUE(processUntil([&] { return spin->angle() > 30; }));
    EXPECT_NE(refresh->icon().cacheKey(), atRest) << "the picture turns";
    refresh->click();
    EXPECT_TRUE(spin->isRunning());
    EXPECT_LT(spin->angle(), 30) << "from 0 again";
    ASSERT_TRUE(processUntil([&] { return !spin->isRunning(); }));
    EXPECT_EQ(refresh->icon().cacheKey(), atRest) << "one turn, then the picture at rest";
}

TEST_F(DeviceListSessionTest, TheNoDevicePageShowsItsPicture)
{
    start(6666);
    controller->connection().applyPageRule();
    EXPECT_EQ(window.currentPage(), MainWindowPage::NoDevice);
    auto* picture = window.findChild<QLabel*>("noDeviceImage");
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull());
    saveScreenshot(window, "no-device-page");
}

} // namespace
