#include "UI/Qt/VerticalCenterLabel.h"

#include "UI/SingleLineVerticalCenterTextFieldCell.h"
#include "UI/VerticalCenterTextFieldCell.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace {

CellRect toCell(const QRectF& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

QRectF toQt(const CellRect& rect)
{
    return {rect.x, rect.y, rect.width, rect.height};
}

} // namespace

QRectF VerticalCenterLabel::textRect() const
{
    const QFontMetricsF metrics(font());
    const CellRect bounds = toCell(contentsRect());
    // Qt counts the descent down from the baseline; the rules take it as negative.
    if (!wordWrap())
        return toQt(SingleLineVerticalCenterTextFieldCell::adjustedFrameToVerticallyCenterText(bounds, metrics.ascent(),
                                                                                               -metrics.descent()));
    // The ascent stands for the point size, so a line is as tall as Qt draws it.
    const VerticalCenterTextFieldCell::Font cellFont{.pointSize = metrics.ascent(), .descender = -metrics.descent()};
    const QString shown = text();
    return toQt(VerticalCenterTextFieldCell::titleRectForBounds(
        bounds, bounds, cellFont,
        [&metrics, &shown](double maxWidth, double) { return std::min(metrics.horizontalAdvance(shown), maxWidth); }));
}

void VerticalCenterLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int flags = static_cast<int>(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                      (wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
    style()->drawItemText(&painter, textRect().toAlignedRect(), flags, palette(), isEnabled(), text(), foregroundRole());
}
