#pragma once

#include <QProxyStyle>

// The look of the lists' vertical scroll bars: no slot, no arrows, only a white knob 3 pixels wide
// with rounded ends at the left of the knob's place. Other controls look as the base style draws them.
class CustomScroller final : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr qreal kKnobWidth = 3.0;
    static constexpr qreal kKnobRadius = 2.0;
    static constexpr int kBarWidth = 7;

    CustomScroller();

    // A slim bar: the knob needs no more room.
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

    // The knob drawn for a scroll bar whose knob has this place.
    static QRectF knobRect(const QRect& sliderRect);
};
