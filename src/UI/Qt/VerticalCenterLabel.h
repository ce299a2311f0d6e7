#pragma once

#include <QLabel>

// A label whose text sits in the middle of its height: by the one-line cell's rule, or by the wrapping
// cell's rule when the label wraps its words. The horizontal alignment is the label's own.
class VerticalCenterLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // Where the text is drawn from its top, in the label's coordinates.
    QRectF textRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
