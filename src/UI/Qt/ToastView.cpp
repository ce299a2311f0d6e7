#include "UI/Qt/ToastView.h"

#include "UI/Qt/PColors.h"
#include "UI/Qt/UiText.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QToolButton>

namespace {

constexpr int kHeight = 56;
constexpr int kTextMargin = 40;
constexpr int kCloseMargin = 80;
constexpr int kFontSize = 20;
// The close button, from the pill's top-left corner.
constexpr QRect closeButtonFrame(int textWidth)
{
    return {textWidth + kTextMargin, 20, 19, 13};
}

QFont toastFont()
{
    QFont font;
    font.setPixelSize(kFontSize);
    return font;
}

} // namespace

ToastView::ToastView(const QString& message, bool hasClose, QWidget* parent) : QWidget(parent)
{
    setObjectName("toastView");
    const QFont font = toastFont();
    const int textWidth = QFontMetrics(font).horizontalAdvance(message);
    setFixedSize(textWidth + (hasClose ? kCloseMargin : kTextMargin), kHeight);

    label_ = new QLabel(message, this);
    label_->setFont(font);
    label_->setAlignment(Qt::AlignCenter);
    label_->setStyleSheet("color: white; background: transparent;");
    label_->setGeometry(0, 0, textWidth + kTextMargin, kHeight);

    if (hasClose) {
        closeButton_ = new QToolButton(this);
        closeButton_->setObjectName("toastCloseButton");
        closeButton_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
        closeButton_->setAutoRaise(true);
        closeButton_->setToolTip(UiText::localized("STRING_CLOSE"));
        closeButton_->setStyleSheet("border: none; background: transparent;");
        closeButton_->setGeometry(closeButtonFrame(textWidth));
        connect(closeButton_, &QToolButton::clicked, this, &ToastView::closeToast);
    }
}

QString ToastView::message() const
{
    return label_->text();
}

void ToastView::closeToast()
{
    hide();
    setParent(nullptr);
    deleteLater();
}

void ToastView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(PColors::getToastBgColor());
    painter.drawRoundedRect(rect(), kHeight / 2.0, kHeight / 2.0);
}
