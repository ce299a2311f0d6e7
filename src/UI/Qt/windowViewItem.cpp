#include "UI/Qt/windowViewItem.h"

#include "UI/Qt/PColors.h"
#include "ui_windowViewItem.h"

#include <QImage>
#include <QMouseEvent>
#include <QPixmap>

windowViewItem::windowViewItem(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::windowViewItem>())
{
    ui_->setupUi(this);
    setCursor(Qt::PointingHandCursor);
    setSelected(false);
}

windowViewItem::~windowViewItem() = default;

void windowViewItem::setWindowName(const QString& name)
{
    ui_->windowName->setText(name);
}

void windowViewItem::setThumbnail(const QImage& image)
{
    if (image.isNull()) {
        ui_->windowImage->clear();
        return;
    }
    ui_->windowImage->setPixmap(
        QPixmap::fromImage(image.scaled(ui_->windowImage->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void windowViewItem::setSelected(bool selected)
{
    selected_ = selected;
    const QColor background = selected ? PColors::getBlueColor() : PColors::getWindowGray();
    ui_->selectColor->setStyleSheet(
        QString("QFrame#selectColor { background-color: %1; border-radius: 10px; }").arg(background.name()));
    ui_->windowName->setStyleSheet(QString("color: %1; font-size: 13px;").arg(selected ? "white" : "black"));
}

void windowViewItem::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
    QWidget::mousePressEvent(event);
}
