#include "QtTestSupport.h"

#include "UI/CheckDeviceViewController.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/CheckDeviceView.h"
#include "UI/Qt/CollectionViewItem.h"
#include "UI/Qt/CustomScroller.h"
#include "UI/Qt/VerticalCenterLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionSlider>

#include <atomic>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::vector<TvDeviceInfo> threeTvs()
{
    return {TvDeviceInfo("192.168.1.20", "Living Room", "", "AB12CD", 0),
            TvDeviceInfo("192.168.1.21", "Meeting Room 2", "", "", 0),
            TvDeviceInfo("192.168.1.37", "Office", "", "", 0)};
}

class CheckDeviceViewTest : public QtLoopFixture {
protected:
    CheckDeviceViewTest() { view.resize(790, 400); }

    QString label(int row, const char* name) const
    {
        return view.item(row)->findChild<VerticalCenterLabel*>(name)->text();
    }

    CheckDeviceView view;
};

TEST_F(CheckDeviceViewTest, EachTvIsARowWithItsNameAddressAndConnectButton)
{
    view.reloadData(threeTvs());
    view.show();
    ASSERT_EQ(view.numberOfItems(), 3);
    EXPECT_EQ(view.item(3), nullptr);
    EXPECT_EQ(view.item(-1), nullptr);
    const std::vector<TvDeviceInfo> tvs = threeTvs();
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const TvDeviceInfo& tv = tvs[static_cast<size_t>(row)];
        EXPECT_EQ(label(row, "nameTextField"), QString::fromStdString(tv.name));
        EXPECT_EQ(label(row, "ipTextField"), QString::fromStdString(tv.ipAddr));
        EXPECT_EQ(view.item(row)->connectBtn()->text(), QString::fromStdString(LocalizedText::text("STRING_CONNECT")));
        EXPECT_TRUE(view.item(row)->connectBtn()->icon().isNull());
        EXPECT_EQ(view.item(row)->sizeHint(), QSize(790, 80));
        EXPECT_EQ(view.item(row)->height(), 80);
    }
    EXPECT_LT(view.item(0)->y(), view.item(1)->y());
    // The name's line sits in the middle of the row.
    const auto* name = view.item(0)->findChild<VerticalCenterLabel*>("nameTextField");
    const QFontMetricsF metrics(name->font());
    EXPECT_NEAR(name->textRect().top() + metrics.height() / 2, name->height() / 2.0, 3.0);
    EXPECT_FALSE(view.findChild<QWidget*>("swipeLeftButton")->isVisible()) << "the list has no paging";
    EXPECT_FALSE(view.findChild<QWidget*>("swipeRightButton")->isVisible());

    view.reloadData({threeTvs()[2]});
    ASSERT_EQ(view.numberOfItems(), 1);
    EXPECT_EQ(label(0, "nameTextField"), "Office");
}

TEST_F(CheckDeviceViewTest, AClickAsksToConnectAndShowsLoadingUntilTheNextReload)
{
    view.reloadData(threeTvs());
    view.show();
    QSignalSpy asked(&view, &CheckDeviceView::connectDevice);
    CollectionViewItem* row = view.item(1);
    row->connectBtn()->click();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0][0].toString(), "192.168.1.21");
    EXPECT_TRUE(row->isLoading());
    EXPECT_TRUE(row->connectBtn()->text().isEmpty()) << "the picture alone";
    EXPECT_FALSE(row->connectBtn()->icon().isNull());
    EXPECT_FALSE(view.item(0)->isLoading());
    saveScreenshot(view, "device-list-connecting");

    view.reloadData(threeTvs());
    EXPECT_FALSE(row->isLoading());
    EXPECT_TRUE(row->connectBtn()->icon().isNull());
    EXPECT_FALSE(row->connectBtn()->text().isEmpty());
}

TEST_F(CheckDeviceViewTest, ALongListScrollsWithTheSlimKnob)
{
    std::vector<TvDeviceInfo> many;
    for (int tv = 0; tv < 12; ++tv)
        many.emplace_back("10.0.0." + std::to_string(tv), "TV " + std::to_string(tv), "", "", 0);
    view.reloadData(many);
    view.show();
    processFor(20ms);
    QScrollBar* bar = view.findChild<QScrollArea*>("scrollView")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    ASSERT_NE(dynamic_cast<CustomScroller*>(bar->style()), nullptr);

    // Drawn on black: the knob alone is white, 3 pixels wide from the left of its place.
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    const QRect knob = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    QImage picture(bar->size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    bar->style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, bar);
    painter.end();
    const int middle = knob.center().y();
    EXPECT_EQ(picture.pixelColor(knob.left() + 1, middle), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(knob.left() + 5, middle), QColor(Qt::black)) << "3 pixels wide";
    EXPECT_EQ(picture.pixelColor(knob.left() + 1, knob.bottom() + 3), QColor(Qt::black)) << "no slot";
    saveScreenshot(view, "device-list-scrolling");
}

// Discovery changes the list on its own thread while the main thread reloads the rows, marks TVs and
// connects: the rows only ever see copies taken on the main thread. Run under ASan and TSan.
TEST_F(CheckDeviceViewTest, ATvRemovedOnTheDiscoveryThreadNeverReachesTheRows)
{
    std::atomic<double> now{1'000.0};
    CheckDeviceViewController list([] {}, [&now] { return now.load(); });
    list.setReloadHandler([&] { view.reloadData(list.devices()); });
    view.show();
    std::atomic<bool> finished{false};
    std::thread discovery([&] {
        for (int tick = 0; tick < 400; ++tick) {
            // TV n answers for n + 1 ticks, then keeps silent as long: the later ones expire and
            // come back as new entries.
            for (int tv = 0; tv < 8; ++tv) {
                if ((tick / (tv + 1)) % 2 == 0)
                    list.findTvDevicesInfo("10.0.0." + std::to_string(tv) + "&TV " + std::to_string(tick % 5) +
                                           "&00:11:22:33:44:5" + std::to_string(tv) + "&#AB12C" + std::to_string(tv));
            }
            now = now + 3.0;
            list.refreshTvDevicesList();
            if (tick % 16 == 0)
                std::this_thread::sleep_for(1ms);
        }
        finished = true;
    });
    int round = 0;
    ASSERT_TRUE(processUntil([&] {
        ++round;
        view.reloadData(list.devices());
        list.tvConnectFail("10.0.0." + std::to_string(round % 8));
        if (CollectionViewItem* row = view.item(round % 4))
            row->connectBtn()->click();
        return finished.load();
    }));
    discovery.join();
    processFor(20ms);

    std::set<QString> heard;
    for (int tv = 0; tv < 8; ++tv)
        heard.insert(QString::fromStdString("10.0.0." + std::to_string(tv)));
    for (int row = 0; row < view.numberOfItems(); ++row)
        EXPECT_TRUE(heard.contains(view.item(row)->address())) << view.item(row)->address().toStdString();
}

} // namespace
