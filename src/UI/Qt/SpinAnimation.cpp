#include "UI/Qt/SpinAnimation.h"

#include <QAbstractButton>
#include <QPainter>
#include <QVariantAnimation>

namespace {

constexpr double kFullTurn = 360.0;

} // namespace

SpinAnimation::SpinAnimation(QAbstractButton* button, std::chrono::milliseconds turn, int turns, QObject* parent)
    : QObject(parent), button_(button), animation_(new QVariantAnimation(this))
{
    animation_->setStartValue(0.0);
    animation_->setEndValue(kFullTurn);
    animation_->setDuration(static_cast<int>(turn.count()));
    animation_->setLoopCount(turns);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { showAngle(value.toDouble()); });
    connect(animation_, &QVariantAnimation::finished, this, &SpinAnimation::stop);
}

void SpinAnimation::start()
{
    if (!button_)
        return;
    if (!spinning_)
        rest_ = button_->icon();
    spinning_ = true;
    animation_->stop();
    animation_->start();
}

void SpinAnimation::stop()
{
    animation_->stop();
    if (spinning_ && button_)
        button_->setIcon(rest_);
    spinning_ = false;
}

bool SpinAnimation::isRunning() const
{
    return spinning_;
}

double SpinAnimation::angle() const
{
    return spinning_ ? animation_->currentValue().toDouble() : 0.0;
}

void SpinAnimation::showAngle(double degrees)
{
    if (!button_ || !spinning_)
        return;
    const qreal ratio = button_->devicePixelRatioF();
    const QPixmap still = rest_.pixmap(button_->iconSize(), ratio);
    QPixmap turned(still.size());
    turned.setDevicePixelRatio(still.devicePixelRatio());
    turned.fill(Qt::transparent);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF centre(still.width() / (2 * ratio), still.height() / (2 * ratio));
    // Qt's y axis points down, so a positive angle turns clockwise on screen.
    painter.translate(centre);
    painter.rotate(degrees);
    painter.translate(-centre);
    painter.drawPixmap(0, 0, still);
    painter.end();
    button_->setIcon(QIcon(turned));
}
