#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/MainQueueGuard.h"
#include "UI/TvMirror/DisplayWindowView.h"

#include <QPoint>
#include <QSize>
#include <QWidget>

#include <memory>
#include <mutex>

class DisplayWindowController;
class VideoDisplayLayer;
class QToolButton;

namespace Ui {
class DisplayWindowController;
}

// The TV-screen window: draws the TV's pictures aspect-fit over its whole content, holds the sidebar
// of TV controls and its handle over the picture, and hands its mouse, wheel, resize and close events
// to DisplayWindowController, whose view it is. Laid out in DisplayWindowController.ui. A window of its
// own that stays loaded between views; closing it only hides it. Main thread, but for the pictures,
// which come on the display sink's worker.
class DisplayWindow final : public QWidget, public DisplayWindowView {
    Q_OBJECT
public:
    explicit DisplayWindow(QWidget* parent = nullptr);
    // Ends the picture's worker first, so no picture arrives while the window goes.
    ~DisplayWindow() override;

    // Where the window's events go; nullptr: nowhere. The controller outlives the window or is unset first.
    void setController(DisplayWindowController* controller) { controller_ = controller; }
    // The picture (the display sink) that the controller feeds.
    VideoDisplayLayer& displayLayer() { return *layer_; }
    // The picture on show; nullptr while none is.
    std::shared_ptr<const BgraFrame> picture() const;

    // DisplayWindowView
    void showWindow() override;
    bool isWindowVisible() const override { return isVisible(); }
    void orderOut() override { hide(); }
    DisplaySize contentSize() const override;
    void setContentSize(DisplaySize size) override;
    double titleBarHeight() const override;
    void centerWindow() override;
    DisplayRect windowFrame() const override;
    double mainDisplayWidth() const override;
    void showSidebar(bool shown) override;
    void showSidebarHandle(bool shown) override;
    void raiseSidebarHandle() override;
    double sidebarHandleY() const override;
    double sidebarHandleHeight() const override;
    void moveSidebarHandle(double y) override;
    void showAnnotationState(bool on) override;

Q_SIGNALS:
    // A new picture has been drawn (for tests and the screenshot).
    void pictureShown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectActions();
    // The zoom button: the window takes its standard frame instead of filling the screen.
    void zoom();
    // The sidebar at the right edge, vertically centred; the handle at the right edge where it was.
    void placeSidebar();
    // A point of the widget in content points: origin lower left, y upwards.
    DisplayPoint contentPoint(const QPointF& position) const;
    // Drags of the handle move it; a press without a drag opens the sidebar.
    bool handleDrag(QEvent* event);
    // Worker thread.
    void takePicture(std::shared_ptr<const BgraFrame> picture);

    std::unique_ptr<Ui::DisplayWindowController> ui_;
    DisplayWindowController* controller_ = nullptr;
    // The size this window gave itself last; any other size is the user's.
    QSize ownSize_;
    QPointF lastMousePosition_;
    QPoint lastHandlePosition_;
    bool handleDragged_ = false;

    mutable std::mutex pictureMutex_;
    std::shared_ptr<const BgraFrame> picture_;
    // Repaints posted by the picture's worker do nothing once the window is gone.
    MainQueueGuard mainQueue_;
    std::unique_ptr<VideoDisplayLayer> layer_;
};
