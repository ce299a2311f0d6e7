#include "UI/Qt/DisplayWindow.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/Images.h"
#include "UI/TvMirror/DisplayWindowController.h"
#include "UI/TvMirror/VideoDisplayLayer.h"
#include "ui_DisplayWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

namespace {

// The handle moves with the pointer once it went this far; a shorter press is a click.
constexpr int kHandleDragDistance = 3;
// One notch of a wheel, in Qt's eighths of a degree.
constexpr double kWheelNotch = 120.0;

QSize rounded(DisplaySize size)
{
    return {static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height))};
}

// The window manager's frame around a top-level widget; none before it is shown.
QMargins frameMargins(const QWidget& window)
{
    return window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
}

} // namespace

DisplayWindow::DisplayWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::DisplayWindowController>()),
      layer_(std::make_unique<VideoDisplayLayer>([this](std::shared_ptr<const BgraFrame> picture) {
          takePicture(std::move(picture));
      }))
{
    ui_->setupUi(this);
    setWindowTitle(QString::fromStdString(LocalizedText::text("STRING_TV_SCREEN_WINDOW")));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    ownSize_ = size();
    const struct {
        QToolButton* button;
        const char* image;
        const char* tip;
    } pictures[] = {{ui_->siderBarButton, "SiderBar", "STRING_SHOW_SIDEBAR"},
                    {ui_->homeButton, "Home", "STRING_HOME"},
                    {ui_->revokeAnnotationsButton, "RevokeAnnotations", "STRING_REVOKE_ANNOTATION"},
                    {ui_->annotationsButton, "Annotations", "STRING_ANNOTATE"},
                    {ui_->annotationsCleanButton, "AnnotationsClean", "STRING_CLEAN_ANNOTATIONS"},
                    {ui_->collapseSidebarButton, "CollapseSidebar", "STRING_HIDE_SIDEBAR"},
                    {ui_->closeButton, "CloseSidebar", "STRING_CLOSE_TV_SCREEN"}};
    for (const auto& [button, image, tip] : pictures) {
        button->setIcon(Images::icon(image));
        button->setAutoRaise(true);
        // Pictures alone: the tip names what each does.
        button->setToolTip(QString::fromStdString(LocalizedText::text(tip)));
    }
    ui_->sidebarView->hide();
    ui_->siderBarButton->installEventFilter(this);
    connectActions();
    placeSidebar();
}

DisplayWindow::~DisplayWindow()
{
    layer_.reset();
}

void DisplayWindow::connectActions()
{
    forwardClicks(ui_->homeButton, this, controller_, &DisplayWindowController::goHomeEvent);
    forwardClicks(ui_->revokeAnnotationsButton, this, controller_, &DisplayWindowController::revokeEvent);
    forwardClicks(ui_->annotationsCleanButton, this, controller_, &DisplayWindowController::cleanAnnotationEvent);
    forwardClicks(ui_->collapseSidebarButton, this, controller_, &DisplayWindowController::retractEvent);
    forwardClicks(ui_->annotationsButton, this, controller_, &DisplayWindowController::annotationEvent);
    // Closing from the sidebar is closing the window: viewing stops.
    connect(ui_->closeButton, &QToolButton::clicked, this, &QWidget::close);
}

std::shared_ptr<const BgraFrame> DisplayWindow::picture() const
{
    const std::lock_guard lock(pictureMutex_);
    return picture_;
}

void DisplayWindow::takePicture(std::shared_ptr<const BgraFrame> picture)
{
    {
        const std::lock_guard lock(pictureMutex_);
        picture_ = std::move(picture);
    }
    // Only the newest picture is kept: a repaint that comes late draws that one. No Qt call off the GUI
    // thread: the main queue carries the repaint there.
    mainQueue_.post([this] {
        update();
        Q_EMIT pictureShown();
    });
}

void DisplayWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const std::shared_ptr<const BgraFrame> shown = picture();
    if (!shown || shown->empty())
        return;
    // Drawn from the decoder's bytes in place: BGRA with opaque alpha is Qt's RGB32.
    const QImage image(shown->bytes().data(), shown->width, shown->height, shown->stride, QImage::Format_RGB32);
    const DisplayRect place = DisplayGeometry::aspectFit({static_cast<double>(shown->width), static_cast<double>(shown->height)},
                                                         contentSize());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(place.origin.x, place.origin.y, place.size.width, place.size.height), image);
}

void DisplayWindow::showWindow()
{
    show();
    raise();
    activateWindow();
}

DisplaySize DisplayWindow::contentSize() const
{
    return {static_cast<double>(width()), static_cast<double>(height())};
}

void DisplayWindow::setContentSize(DisplaySize size)
{
    ownSize_ = rounded(size);
    resize(ownSize_);
}

double DisplayWindow::titleBarHeight() const
{
    return frameGeometry().height() - geometry().height();
}

void DisplayWindow::centerWindow()
{
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shownOn)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(shownOn->availableGeometry().center());
    move(frame.topLeft());
}

DisplayRect DisplayWindow::windowFrame() const
{
    // While maximised, the frame the window had before: its shape is what a zoom keeps.
    const QRect frame = isMaximized() ? normalGeometry().marginsAdded(frameMargins(*this)) : frameGeometry();
    return {{static_cast<double>(frame.x()), static_cast<double>(frame.y())},
            {static_cast<double>(frame.width()), static_cast<double>(frame.height())}};
}

double DisplayWindow::mainDisplayWidth() const
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry().width() : 0;
}

void DisplayWindow::showSidebar(bool shown)
{
    ui_->sidebarView->setVisible(shown);
    if (shown)
        ui_->sidebarView->raise();
}

void DisplayWindow::showSidebarHandle(bool shown)
{
    ui_->siderBarButton->setVisible(shown);
}

void DisplayWindow::raiseSidebarHandle()
{
    ui_->siderBarButton->raise();
}

double DisplayWindow::sidebarHandleY() const
{
    return height() - ui_->siderBarButton->geometry().bottom() - 1;
}

double DisplayWindow::sidebarHandleHeight() const
{
    return ui_->siderBarButton->height();
}

void DisplayWindow::moveSidebarHandle(double y)
{
    QToolButton* handle = ui_->siderBarButton;
    handle->move(handle->x(), height() - static_cast<int>(std::lround(y)) - handle->height());
}

void DisplayWindow::showAnnotationState(bool on)
{
    ui_->annotationsButton->setChecked(on);
    ui_->annotationsButton->setIcon(Images::icon(on ? "AnnotationsSelect" : "Annotations"));
}

void DisplayWindow::placeSidebar()
{
    QFrame* sidebar = ui_->sidebarView;
    sidebar->adjustSize();
    sidebar->move(width() - sidebar->width(), (height() - sidebar->height()) / 2);
    QToolButton* handle = ui_->siderBarButton;
    const int y = std::clamp(handle->y(), 0, std::max(0, height() - handle->height()));
    handle->move(width() - handle->width(), y);
}

void DisplayWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A maximising resize is the zoom's, which sizes the window itself.
    if (isMaximized())
        return;
    if (size() != ownSize_ && controller_) {
        // The user's resize: the width is kept, the content keeps 16:9.
        const double titleBar = titleBarHeight();
        const DisplaySize frame = controller_->windowWillResize({static_cast<double>(width()), height() + titleBar});
        ownSize_ = rounded({frame.width, frame.height - titleBar});
        if (ownSize_ != size()) {
            resize(ownSize_);
            return;
        }
    }
    ownSize_ = size();
    placeSidebar();
    if (controller_)
        controller_->windowDidResize();
}

void DisplayWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMaximized())
        zoom();
}

void DisplayWindow::zoom()
{
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!controller_ || !shownOn)
        return;
    const QRect available = shownOn->availableGeometry();
    const DisplayRect standard = controller_->windowWillUseStandardFrame(
        {{static_cast<double>(available.x()), static_cast<double>(available.y())},
         {static_cast<double>(available.width()), static_cast<double>(available.height())}});
    const QMargins margins = frameMargins(*this);
    // Leaves the maximised state first: a maximised window would fill the screen whatever the TV's shape.
    setWindowState(windowState() & ~Qt::WindowMaximized);
    ownSize_ = rounded({standard.size.width - margins.left() - margins.right(),
                        standard.size.height - margins.top() - margins.bottom()});
    setGeometry(QRect(QPoint(static_cast<int>(std::lround(standard.origin.x)) + margins.left(),
                             static_cast<int>(std::lround(standard.origin.y)) + margins.top()),
                      ownSize_));
}

void DisplayWindow::closeEvent(QCloseEvent* event)
{
    if (controller_)
        controller_->windowWillClose();
    QWidget::closeEvent(event);
}

DisplayPoint DisplayWindow::contentPoint(const QPointF& position) const
{
    return {position.x(), height() - position.y()};
}

void DisplayWindow::mousePressEvent(QMouseEvent* event)
{
    lastMousePosition_ = event->position();
    if (controller_)
        controller_->mouseDown(contentPoint(event->position()));
}

void DisplayWindow::mouseMoveEvent(QMouseEvent* event)
{
    // Moves without a button pressed send nothing.
    if (event->buttons() == Qt::NoButton)
        return;
    const QPointF delta = event->position() - lastMousePosition_;
    lastMousePosition_ = event->position();
    if (controller_)
        controller_->mouseDragged(contentPoint(event->position()), delta.x(), delta.y());
}

void DisplayWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (controller_)
        controller_->mouseUp(contentPoint(event->position()));
}

void DisplayWindow::enterEvent(QEnterEvent*)
{
    if (controller_)
        controller_->mouseEntered();
}

void DisplayWindow::leaveEvent(QEvent*)
{
    if (controller_)
        controller_->mouseExited();
}

void DisplayWindow::wheelEvent(QWheelEvent* event)
{
    // In lines, as a wheel scrolls them.
    const double lines = QApplication::wheelScrollLines() / kWheelNotch;
    if (controller_)
        controller_->scrollWheel(event->angleDelta().x() * lines, event->angleDelta().y() * lines);
}

bool DisplayWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_->siderBarButton && handleDrag(event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool DisplayWindow::handleDrag(QEvent* event)
{
    QToolButton* handle = ui_->siderBarButton;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        lastHandlePosition_ = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        handleDragged_ = false;
        return false;
    case QEvent::MouseMove: {
        const QPoint position = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        const int dy = position.y() - lastHandlePosition_.y();
        if (!handleDragged_ && std::abs(dy) < kHandleDragDistance)
            return false;
        handleDragged_ = true;
        lastHandlePosition_ = position;
        // The content's y grows upwards.
        if (controller_)
            controller_->onPanGesRecognizer(DisplayWindowController::PanState::Changed, -dy);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!handleDragged_) {
            if (controller_ && handle->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
                controller_->sidebarEvent();
            handle->setDown(false);
            return true;
        }
        handleDragged_ = false;
        handle->setDown(false);
        if (controller_)
            controller_->onPanGesRecognizer(DisplayWindowController::PanState::Ended, 0);
        return true;
    default:
        return false;
    }
}
