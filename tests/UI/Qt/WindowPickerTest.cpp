#include "UI/Qt/WindowPicker.h"

#include "MainWindowFixture.h"
#include "QtTestSupport.h"

#include "Media/EncoderH264/windowInfo.h"
#include "Platform/BgraFrame.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/WindowPageView.h"
#include "UI/Qt/windowViewItem.h"
#include "UI/SelectCollectionDelegate.h"
#include "Session/WindowCastController.h"
#include "Session/ConnectionController.h"
#include "UI/windowCollectionView.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Window = WindowListSource::Window;

class Choices final : public SelectCollectionDelegate {
public:
    void selectWindow(std::shared_ptr<windowInfo> window) override { calls.push_back(window->windowId()); }
    void selectExpand() override { calls.push_back(-1); }
    std::vector<int32_t> calls;
};

class WindowPickerWidgetTest : public QtLoopFixture {
protected:
    WindowPickerWidgetTest()
    {
        rules.setDelegate(&choices);
        widget.resize(620, 420);
        widget.setPicker(&rules);
        widget.show();
    }
    ~WindowPickerWidgetTest() override { widget.setPicker(nullptr); }

    // One poll, then the grid's reload half a second later.
    void showWindows(std::vector<Window> list)
    {
        source->set(std::move(list));
        rules.querywindow();
        ASSERT_TRUE(processUntil([&] { return widget.items().size() == rules.numberOfItems(); }));
    }
    QLabel* label(windowViewItem* item) const { return item->findChild<QLabel*>("windowName"); }

    std::shared_ptr<FakeWindowSource> source = std::make_shared<FakeWindowSource>();
    windowCollectionView rules{source};
    Choices choices;
    WindowPicker widget;
};

TEST_F(WindowPickerWidgetTest, ShowsTheExtendTileAboveOneLabelledItemPerWindow)
{
    showWindows({{11, "gedit", "a.txt", {}}, {12, "gedit", "b.txt", {}}, {13, "xterm", "shell", {}}});
    ASSERT_EQ(widget.items().size(), 3u);
    EXPECT_EQ(label(widget.items()[0])->text(), "gedit");
    EXPECT_EQ(label(widget.items()[1])->text(), "gedit");
    EXPECT_EQ(widget.items()[2]->windowId(), 13);
    EXPECT_EQ(widget.items()[0]->size(), QSize(180, 130));
    // Side by side from the grid's left edge, below the tile and the second title.
    EXPECT_EQ(widget.items()[0]->pos(), QPoint(32, 210));
    EXPECT_EQ(widget.items()[1]->pos(), QPoint(212, 210));
    EXPECT_EQ(findControl<QLabel>(widget, "expandName")->text(),
              QString::fromStdString(LocalizedText::text("STRING_EXTEND")));

    QTest::mouseClick(widget.items()[1], Qt::LeftButton);
    EXPECT_TRUE(widget.items()[1]->isSelected());
    EXPECT_FALSE(widget.items()[0]->isSelected());
    EXPECT_EQ(choices.calls, std::vector<int32_t>{12});
    saveScreenshot(widget, "window-picker");

    findControl<QPushButton>(widget, "imageButton")->click();
    EXPECT_FALSE(widget.items()[1]->isSelected());
    EXPECT_EQ(choices.calls, (std::vector<int32_t>{12, -1}));
    EXPECT_TRUE(findControl<QWidget>(widget, "imagebg")->styleSheet().contains("#118de3"));
    saveScreenshot(widget, "window-picker-extend");
}

TEST_F(WindowPickerWidgetTest, TheExtendTileTakesItsPictureAndCanBeDisabledWithATip)
{
    BgraFrame picture;
    picture.resize(64, 36);
    std::fill(picture.bytes().begin(), picture.bytes().end(), uint8_t{0x80});
    widget.setExtendSnapshot(picture);
    auto* button = findControl<QPushButton>(widget, "imageButton");
    EXPECT_FALSE(button->icon().isNull());

    widget.setExtendAvailable(false);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(findControl<QWidget>(widget, "imagebg")->toolTip(),
              QString::fromStdString(LocalizedText::text("STRING_EXTEND_UNAVAILABLE")));
    button->click();
    EXPECT_TRUE(choices.calls.empty());
    saveScreenshot(widget, "window-picker-extend-unavailable");
    widget.setExtendAvailable(true);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(findControl<QWidget>(widget, "imagebg")->toolTip().isEmpty());
}

TEST_F(WindowPickerWidgetTest, OnXEachItemShowsItsWindowsPicture)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "thumbnails are grabbed from an X server";
    QWidget red;
    red.setStyleSheet("background-color: rgb(220, 30, 30);");
    red.setGeometry(600, 80, 300, 200);
    red.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&red));
    processFor(std::chrono::milliseconds(200));
    showWindows({{static_cast<int32_t>(red.winId()), "red-app", "Red", {}}});
    const QPixmap thumbnail = widget.items()[0]->findChild<QLabel*>("windowImage")->pixmap();
    ASSERT_FALSE(thumbnail.isNull());
    const QColor centre = thumbnail.toImage().pixelColor(thumbnail.width() / 2, thumbnail.height() / 2);
    EXPECT_EQ(centre, QColor(220, 30, 30));
    saveScreenshot(widget, "window-picker-thumbnail");
}

class WindowPageSessionTest : public MainWindowSessionFixture {
protected:
    static TvSim::Options options()
    {
        TvSim::Options options = SessionFixture::tvOptions();
        options.qualityLevel = 1;
        return options;
    }
    WindowPageSessionTest() : MainWindowSessionFixture(options()) {}

    void connect()
    {
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
        ASSERT_TRUE(processUntil([&] { return controller->state().screenProjectionCode.has_value(); }));
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
};

TEST_F(WindowPageSessionTest, AWindowIsChosenCastPausedAndTheWayBackTaken)
{
    windows->set({{11, "gedit", "a.txt", {}}, {12, "xterm", "shell", {}}});
    connect();
    EXPECT_TRUE(shows("windowBtn"));
    EXPECT_FALSE(shows("pauseBtn"));
    QTest::mouseClick(button("windowBtn"), Qt::LeftButton);
    EXPECT_EQ(window.currentPage(), MainWindowPage::Window);
    auto& picker = window.windowPage()->picker();
    ASSERT_TRUE(processUntil([&] { return picker.items().size() == 2; })) << "the poll lists both windows";
    EXPECT_FALSE(button("windowStartBtn")->isEnabled());
    screenshot("window-page");

    QTest::mouseClick(picker.items()[1], Qt::LeftButton);
    EXPECT_TRUE(button("windowStartBtn")->isEnabled());
    QTest::mouseClick(button("windowStartBtn"), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return media.videoRunning(); })) << "the TV's answer starts the capture";
    EXPECT_EQ(button("windowStartBtn")->text(), QString::fromStdString(LocalizedText::text("STRING_STOP")));
    screenshot("window-page-casting");

    QTest::mouseClick(button("backBtn"), Qt::LeftButton);
    EXPECT_EQ(window.currentPage(), MainWindowPage::Connected);
    EXPECT_TRUE(shows("pauseBtn"));
    EXPECT_TRUE(shows("goWindowBtn"));
    EXPECT_FALSE(shows("windowBtn"));
    screenshot("connected-window-casting");

    QTest::mouseClick(button("pauseBtn"), Qt::LeftButton);
    EXPECT_FALSE(media.videoRunning());
    EXPECT_FALSE(shows("pauseBtn"));
    EXPECT_TRUE(shows("windowBtn"));
    EXPECT_FALSE(button("windowStartBtn")->isEnabled());
}

} // namespace
