#include "UI/Qt/WindowPicker.h"

#include "Media/EncoderH264/windowInfo.h"
#include "Platform/BgraFrame.h"
#include "UI/Qt/BgraImage.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/UiText.h"
#include "UI/Qt/windowViewItem.h"
#include "UI/windowCollectionView.h"
#include "ui_windowCollectionView.h"

#include <QImage>
#include <QPixmap>

#include <algorithm>

WindowPicker::WindowPicker(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::windowCollectionView>())
{
    ui_->setupUi(this);
    const QString titleStyle = "color: black; font-size: 16px;";
    ui_->extendTitle->setText(UiText::localized("STRING_EXTEND"));
    ui_->extendTitle->setStyleSheet(titleStyle);
    ui_->windowTitle->setText(UiText::localized("STRING_WINDOW"));
    ui_->windowTitle->setStyleSheet(titleStyle);
    ui_->expandName->setText(UiText::localized("STRING_EXTEND"));
    ui_->imageButton->setIcon(Images::icon("Desktop"));
    ui_->imageButton->setToolTip(UiText::localized("STRING_EXTEND"));
    ui_->imageButton->setStyleSheet("QPushButton { border: none; background: transparent; }");
    showExtendSelected(false);
    connect(ui_->imageButton, &QPushButton::clicked, this, [this] {
        if (picker_)
            picker_->selectExtension();
    });
    layoutItems();
}

WindowPicker::~WindowPicker()
{
    setPicker(nullptr);
}

void WindowPicker::setPicker(windowCollectionView* picker)
{
    if (picker_)
        picker_->setDisplay(nullptr);
    picker_ = picker;
    if (picker_)
        picker_->setDisplay(this);
    reloadData();
}

void WindowPicker::setExtendSnapshot(const BgraFrame& picture)
{
    const QImage image = BgraImage::copy(picture);
    if (!image.isNull())
        ui_->imageButton->setIcon(QIcon(QPixmap::fromImage(image)));
}

void WindowPicker::setExtendAvailable(bool available)
{
    ui_->imageButton->setEnabled(available);
    ui_->imagebg->setToolTip(available ? QString() : UiText::localized("STRING_EXTEND_UNAVAILABLE"));
    ui_->imagebg->setEnabled(available);
}

void WindowPicker::reloadData()
{
    // Later: a reload may come while an item's click is being handled.
    for (windowViewItem* item : items_) {
        item->hide();
        item->deleteLater();
    }
    items_.clear();
    const size_t count = picker_ ? picker_->numberOfItems() : 0;
    for (size_t index = 0; index < count; ++index) {
        const std::shared_ptr<windowInfo> window = picker_->windowAt(index);
        if (!window)
            break;
        auto* item = new windowViewItem(ui_->collectionView);
        item->setObjectName(QString("windowViewItem%1").arg(index));
        item->setWindowId(window->windowId());
        item->setWindowName(QString::fromStdString(window->windowName()));
        item->setThumbnail(thumbnails_.thumbnail(window->windowId()));
        connect(item, &windowViewItem::clicked, this, [this, index] {
            selectItem(index);
            if (picker_)
                picker_->didSelectItem(index);
        });
        item->show();
        items_.push_back(item);
    }
    layoutItems();
}

void WindowPicker::selectItem(size_t index)
{
    for (size_t i = 0; i < items_.size(); ++i)
        items_[i]->setSelected(i == index);
}

void WindowPicker::deselectAll()
{
    for (windowViewItem* item : items_)
        item->setSelected(false);
}

void WindowPicker::showExtendSelected(bool selected)
{
    const QColor background = selected ? PColors::getBlueColor() : PColors::getWindowGray();
    ui_->imagebg->setStyleSheet(
        QString("QFrame#imagebg { background-color: %1; border-radius: 10px; }").arg(background.name()));
    ui_->expandName->setStyleSheet(QString("color: %1; font-size: 13px;").arg(selected ? "white" : "black"));
}

void WindowPicker::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutItems();
}

void WindowPicker::layoutItems()
{
    const int available = ui_->scrollView->viewport()->width() - kGridLeft;
    const int columns = std::max(1, available / kItemWidth);
    for (size_t index = 0; index < items_.size(); ++index) {
        const int column = static_cast<int>(index) % columns;
        const int row = static_cast<int>(index) / columns;
        items_[index]->move(kGridLeft + column * kItemWidth, kGridTop + row * (kItemHeight + kLineSpacing));
    }
    const int rows = (static_cast<int>(items_.size()) + columns - 1) / columns;
    ui_->collectionView->setMinimumHeight(kGridTop + rows * (kItemHeight + kLineSpacing));
}
