#include "UI/Qt/CollectionViewItem.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/SpinAnimation.h"
#include "ui_CollectionViewItem.h"

#include <QPainter>
#include <QStyleOption>

namespace {

constexpr std::chrono::milliseconds kLoadingTurn{1'000};

} // namespace

CollectionViewItem::CollectionViewItem(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::CollectionViewItem>())
{
    ui_->setupUi(this);
    setFixedHeight(kItemSize.height());
    loading_ = new SpinAnimation(ui_->connectBtn, kLoadingTurn, SpinAnimation::kForever, this);
    connect(ui_->connectBtn, &QPushButton::clicked, this, &CollectionViewItem::connectClicked);
}

CollectionViewItem::~CollectionViewItem() = default;

void CollectionViewItem::represent(const TvDeviceInfo& tv)
{
    ui_->nameTextField->setText(QString::fromStdString(tv.name));
    ui_->ipTextField->setText(QString::fromStdString(tv.ipAddr));
    loading_->stop();
    ui_->connectBtn->setIcon(QIcon());
    ui_->connectBtn->setText(QString::fromStdString(LocalizedText::text("STRING_CONNECT")));
}

QString CollectionViewItem::address() const
{
    return ui_->ipTextField->text();
}

QPushButton* CollectionViewItem::connectBtn() const
{
    return ui_->connectBtn;
}

bool CollectionViewItem::isLoading() const
{
    return loading_->isRunning();
}

void CollectionViewItem::connectClicked()
{
    // The picture alone: the title goes while the connect is under way.
    ui_->connectBtn->setText({});
    ui_->connectBtn->setIcon(Images::icon("Loading"));
    loading_->start();
    Q_EMIT connectDevice(address());
}

void CollectionViewItem::paintEvent(QPaintEvent*)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
