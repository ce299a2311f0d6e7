#include "UI/Qt/CheckDeviceView.h"

#include "UI/Qt/CollectionViewItem.h"
#include "UI/Qt/CustomScroller.h"
#include "UI/Qt/Images.h"
#include "ui_CheckDeviceViewController.h"

#include <QScrollBar>
#include <QVBoxLayout>

CheckDeviceView::CheckDeviceView(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CheckDeviceViewController>())
{
    ui_->setupUi(this);
    // The list has no paging: the paging buttons keep their pictures and stay hidden.
    ui_->swipeRightButton->setIcon(Images::icon("SwipeRightButton"));
    ui_->swipeLeftButton->setIcon(Images::icon("SwipeLeftButton"));
    ui_->swipeRightButton->hide();
    ui_->swipeLeftButton->hide();
    auto* scroller = new CustomScroller;
    scroller->setParent(this);
    ui_->scrollView->verticalScrollBar()->setStyle(scroller);
}

CheckDeviceView::~CheckDeviceView() = default;

CheckDeviceView* CheckDeviceView::placeIn(QWidget* holder)
{
    auto* screen = new CheckDeviceView(holder);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(screen);
    return screen;
}

void CheckDeviceView::reloadData(const std::vector<TvDeviceInfo>& devices)
{
    while (items_.size() > devices.size()) {
        // Later: the reload may come inside that row's own click.
        CollectionViewItem* gone = items_.back();
        items_.pop_back();
        gone->hide();
        ui_->collectionFlowLayout->removeWidget(gone);
        gone->deleteLater();
    }
    while (items_.size() < devices.size()) {
        auto* row = new CollectionViewItem(ui_->collectionView);
        connect(row, &CollectionViewItem::connectDevice, this, &CheckDeviceView::connectDevice);
        // Before the spacer that keeps the rows at the top.
        ui_->collectionFlowLayout->insertWidget(static_cast<int>(items_.size()), row);
        items_.push_back(row);
    }
    for (size_t index = 0; index < devices.size(); ++index)
        items_[index]->represent(devices[index]);
}

CollectionViewItem* CheckDeviceView::item(int index) const
{
    return index >= 0 && index < numberOfItems() ? items_[static_cast<size_t>(index)] : nullptr;
}
