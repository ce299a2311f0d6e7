#include "UI/Qt/CustomScroller.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionSlider>

// Fusion draws the same on every desktop, so the scroll bars' places are the same everywhere.
CustomScroller::CustomScroller() : QProxyStyle(QStyleFactory::create("Fusion")) {}

int CustomScroller::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    return metric == PM_ScrollBarExtent ? kBarWidth : QProxyStyle::pixelMetric(metric, option, widget);
}

void CustomScroller::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                        const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar || bar->orientation != Qt::Vertical) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect slider = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget);
    if (!slider.isValid() || bar->minimum == bar->maximum)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    painter->drawRoundedRect(knobRect(slider), kKnobRadius, kKnobRadius);
    painter->restore();
}

QRectF CustomScroller::knobRect(const QRect& sliderRect)
{
    return {QPointF(sliderRect.topLeft()), QSizeF(kKnobWidth, sliderRect.height())};
}
