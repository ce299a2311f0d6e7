// The TV-screen window on Qt's offscreen platform: its shape for the TV and under the user's resize,
// the sidebar's handle by the TV's version, and the bytes its real mouse, wheel and button events
// send, gated by the control status.
#include "QtTestSupport.h"

#include "Socket/MessageType.h"
#include "UI/Qt/DisplayWindow.h"
#include "UI/TvMirror/DisplayWindowController.h"
#include "UI/TvMirror/DisplayWindowFakes.h"
#include "UI/TvMirror/VideoDisplayLayer.h"

#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A 16-byte touch record: x and y big-endian, then two zero words.
Bytes touch(uint8_t xLow, uint8_t yLow)
{
    return {0, 0, 0, xLow, 0, 0, 0, yLow, 0, 0, 0, 0, 0, 0, 0, 0};
}

class DisplayWindowTest : public QtLoopFixture {
protected:
    DisplayWindowTest()
    {
        window.setController(&controller);
        window.showWindow();
    }
    ~DisplayWindowTest() override { window.setController(nullptr); }

    // The TV reports its size, as the session controller passes it on, and the window takes it.
    void tvResolution(double width, double height)
    {
        controller.setMouseSize({width, height});
        processFor(std::chrono::milliseconds(20));
    }
    // The window sized for a TV of 1920 x 1080, the handle shown, and the touch-up that the pointer's
    // entering sent as the window came up forgotten.
    void viewFullHdTv()
    {
        tvResolution(1920, 1080);
        tvVersion(75);
        sent.clear();
    }
    void controlStatus(bool granted)
    {
        controller.changeControlStatus(granted);
        processFor(std::chrono::milliseconds(20));
    }
    void tvVersion(int version)
    {
        controller.tvAppVersion(version);
        processFor(std::chrono::milliseconds(20));
    }
    QToolButton* button(const char* name) const { return findControl<QToolButton>(window, name); }
    bool shows(const char* name) const { return button(name)->isVisibleTo(&window); }

    // Mouse events at a point of the window (Qt's top-left origin).
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButtons held)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, window.mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    }
    void wheel(QPoint angleDelta)
    {
        const QPointF at(10, 10);
        QWheelEvent event(at, window.mapToGlobal(at), {}, angleDelta, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(&window, &event);
    }
    std::vector<SentMessage> takeSent() { return std::exchange(sent, {}); }

    std::vector<SentMessage> sent;
    DisplayWindow window;
    DisplayWindowController controller{window, window.displayLayer(), recordingServices()};

private:
    DisplayWindowController::Services recordingServices()
    {
        DisplayWindowController::Services services;
        services.sender = [this](int type, const uint8_t* data, int len) {
            sent.push_back({type, Bytes(data, data + len)});
            return true;
        };
        return services;
    }
};

TEST_F(DisplayWindowTest, TheWindowTakesTheTvsShape)
{
    tvResolution(1920, 1080);
    EXPECT_EQ(window.size(), QSize(1280, 720));
    EXPECT_FLOAT_EQ(controller.mouseScaleX(), 1.5f);
    EXPECT_FLOAT_EQ(controller.mouseScaleY(), 1.5f);

    tvResolution(1080, 1920);
    EXPECT_EQ(window.size(), QSize(405, 720));
    EXPECT_NEAR(controller.mouseScaleX(), 1080.0 / 405, 1e-4);
    EXPECT_NEAR(controller.mouseScaleY(), 1920.0 / 720, 1e-4);

    // Nonsense from the TV changes nothing.
    tvResolution(0, 1080);
    EXPECT_EQ(window.size(), QSize(405, 720));
}

TEST_F(DisplayWindowTest, TheUsersResizeKeepsTheContentAtSixteenByNine)
{
    tvResolution(1080, 1920);
    window.resize(1000, 700);
    processFor(std::chrono::milliseconds(20));
    EXPECT_EQ(window.size(), QSize(1000, 563));
    // The scales follow the new content.
    EXPECT_NEAR(controller.mouseScaleX(), 1080.0 / 1000, 1e-4);
    EXPECT_NEAR(controller.mouseScaleY(), 1920.0 / 563, 1e-4);
}

TEST_F(DisplayWindowTest, ZoomKeepsTheWindowsShapeAtTheScreensHeightCentred)
{
    tvResolution(1080, 1920);
    window.setWindowState(Qt::WindowMaximized);
    processFor(std::chrono::milliseconds(20));
    const QRect available = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    EXPECT_FALSE(window.isMaximized());
    EXPECT_EQ(frame.top(), available.top());
    EXPECT_EQ(frame.height(), available.height());
    EXPECT_NEAR(frame.center().x(), window.screen()->geometry().center().x(), 1);
    EXPECT_NEAR(static_cast<double>(window.width()) / window.height(), 405.0 / 720, 0.01);
    // The scales follow the zoomed content.
    EXPECT_NEAR(controller.mouseScaleY(), 1920.0 / window.height(), 1e-4);
}

TEST_F(DisplayWindowTest, TheSidebarHandleShowsFromVersion75)
{
    tvVersion(74);
    EXPECT_FALSE(shows("siderBarButton"));
    tvVersion(75);
    EXPECT_TRUE(shows("siderBarButton"));
    QTest::mouseClick(button("siderBarButton"), Qt::LeftButton);
    for (const char* name : {"homeButton", "revokeAnnotationsButton", "annotationsButton", "annotationsCleanButton",
                             "collapseSidebarButton", "closeButton"})
        EXPECT_TRUE(shows(name)) << name;
    EXPECT_FALSE(shows("siderBarButton"));
    saveScreenshot(window, "tv-screen-sidebar");
    expectTextsFromTheTable(window);
    QTest::mouseClick(button("collapseSidebarButton"), Qt::LeftButton);
    EXPECT_FALSE(shows("homeButton"));
    EXPECT_TRUE(shows("siderBarButton"));

    // A grant with an old TV hides the handle; so does a withdrawal.
    tvVersion(74);
    controlStatus(true);
    EXPECT_FALSE(shows("siderBarButton"));
    tvVersion(80);
    controlStatus(false);
    EXPECT_FALSE(shows("siderBarButton"));
}

TEST_F(DisplayWindowTest, DraggingTheHandleMovesItWithinTheWindow)
{
    tvVersion(75);
    QToolButton* handle = button("siderBarButton");
    const int before = handle->y();
    QTest::mousePress(handle, Qt::LeftButton, {}, {10, 10});
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 60), handle->mapToGlobal(QPointF(10, 60)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, {10, 60});
    EXPECT_EQ(handle->y(), before + 50);
    EXPECT_FALSE(shows("homeButton")) << "a drag is no click";
}

TEST_F(DisplayWindowTest, MouseAndWheelSendTouchesAndScrollsInTvPixels)
{
    viewFullHdTv();
    // Content point (100, 700): 20 points below the top.
    mouse(QEvent::MouseButtonPress, {100, 20}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {110, 30}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {120, 40}, Qt::NoButton);
    mouse(QEvent::MouseButtonRelease, {110, 30}, Qt::NoButton);
    const std::vector<SentMessage> expected{{kMsgTouchDown, touch(150, 30)},
                                            {kMsgTouchMove, touch(165, 45)},
                                            {kMsgTouchUp, touch(165, 45)}};
    EXPECT_EQ(takeSent(), expected);

    // One notch down is three lines, halved and truncated: -1; a notch sideways +1.
    wheel({0, -120});
    wheel({120, 0});
    const std::vector<SentMessage> scrolls{{kMsgScroll, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
                                           {kMsgScroll, {0, 0, 0, 1, 0, 0, 0, 0}}};
    EXPECT_EQ(takeSent(), scrolls);

    // A press beyond the content's right edge is dropped.
    mouse(QEvent::MouseButtonPress, {1280.5, 20}, Qt::LeftButton);
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(DisplayWindowTest, TheSidebarSendsAnnotationUndoClearAndHome)
{
    viewFullHdTv();
    QTest::mouseClick(button("siderBarButton"), Qt::LeftButton);
    QTest::mouseClick(button("annotationsButton"), Qt::LeftButton);
    mouse(QEvent::MouseButtonPress, {100, 20}, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {100, 20}, Qt::NoButton);
    QTest::mouseClick(button("revokeAnnotationsButton"), Qt::LeftButton);
    QTest::mouseClick(button("annotationsCleanButton"), Qt::LeftButton);
    QTest::mouseClick(button("annotationsButton"), Qt::LeftButton);
    QTest::mouseClick(button("homeButton"), Qt::LeftButton);
    const std::vector<SentMessage> expected{{kMsgAnnotationMode, {0, 0, 0, 1}},
                                            {kMsgAnnotationDown, touch(150, 30)},
                                            {kMsgAnnotationUp, touch(150, 30)},
                                            {kMsgAnnotationUndo, {}},
                                            {kMsgAnnotationClear, {}},
                                            {kMsgAnnotationMode, {0, 0, 0, 0}},
                                            {kMsgKeyCode, {0, 0, 0xF7, 0x04}}};
    EXPECT_EQ(takeSent(), expected);
}

TEST_F(DisplayWindowTest, WithoutControlOnlyTheUngatedCommandsGoOut)
{
    viewFullHdTv();
    QTest::mouseClick(button("siderBarButton"), Qt::LeftButton);
    controlStatus(false);
    // Withdrawal sends annotation mode off and folds the sidebar.
    EXPECT_EQ(takeSent(), (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 0}}}));
    EXPECT_FALSE(shows("homeButton"));

    mouse(QEvent::MouseButtonPress, {100, 20}, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {100, 20}, Qt::NoButton);
    wheel({0, -360});
    QTest::mouseClick(button("annotationsButton"), Qt::LeftButton);
    EXPECT_TRUE(takeSent().empty());
    EXPECT_FALSE(button("annotationsButton")->isChecked());

    QTest::mouseClick(button("revokeAnnotationsButton"), Qt::LeftButton);
    QTest::mouseClick(button("annotationsCleanButton"), Qt::LeftButton);
    QTest::mouseClick(button("homeButton"), Qt::LeftButton);
    const std::vector<SentMessage> expected{
        {kMsgAnnotationUndo, {}}, {kMsgAnnotationClear, {}}, {kMsgKeyCode, {0, 0, 0xF7, 0x04}}};
    EXPECT_EQ(takeSent(), expected);
}

TEST_F(DisplayWindowTest, ClosingTheWindowTellsItsDelegateAndEndsAnnotation)
{
    CountingDisplayWindowDelegate delegate;
    controller.setDisplayWindowDelegate(&delegate);
    window.close();
    EXPECT_EQ(delegate.closes, 1);
    EXPECT_EQ(takeSent(), (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 0}}}));
    EXPECT_FALSE(window.isVisible());
    controller.setDisplayWindowDelegate(nullptr);
}

} // namespace
