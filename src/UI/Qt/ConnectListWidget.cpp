#include "UI/Qt/ConnectListWidget.h"

#include "UI/ConnectList.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/ConnectListItemWidget.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/UiText.h"
#include "ui_ConnectList.h"

namespace {

QString localized(const char* key)
{
    return QString::fromStdString(LocalizedText::text(key));
}

} // namespace

ConnectListWidget::ConnectListWidget(QWidget* parent) : QFrame(parent), ui_(std::make_unique<Ui::ConnectList>())
{
    ui_->setupUi(this);
    ui_->ballTitle->setText(localized("STRING_CONNECT_LIST_TITLE"));
    ui_->divideText->setText(localized("STRING_SPLIT_SCREEN"));
    ui_->reverseText->setText(localized("STRING_REVERSE_CONTROL"));
    ui_->hiddenBtn->setIcon(Images::icon("HiddenIcon"));
    ui_->hiddenBtn->setToolTip(UiText::localized("STRING_HIDE_CONNECT_LIST"));
    showSwitch(SendersSwitch::SplitScreen, false);
    showSwitch(SendersSwitch::ReverseControl, false);
    setDeviceCountTitle(LocalizedText::format("STRING_DEVICE_COUNT", {"0"}));

    // The click has toggled the switch already: its new state is the request.
    connect(ui_->divideBtn, &QToolButton::clicked, this, [this](bool on) {
        if (connectList_)
            connectList_->clickDivideBtn(on);
    });
    connect(ui_->reverseBtn, &QToolButton::clicked, this, [this](bool on) {
        if (connectList_)
            connectList_->clickReverseBtn(on);
    });
    connect(ui_->hiddenBtn, &QToolButton::clicked, this, [this] {
        if (connectList_)
            connectList_->clickHiddenBtn();
    });
}

ConnectListWidget::~ConnectListWidget() = default;

void ConnectListWidget::setConnectList(ConnectList* list)
{
    connectList_ = list;
    if (!list)
        qDeleteAll(rows());
}

void ConnectListWidget::reloadData(const ConnectList& list)
{
    qDeleteAll(rows());
    // The rows go above the spacer that keeps them at the top.
    for (size_t position = 0; const auto item = list.item(position); ++position)
        ui_->rowsLayout->insertWidget(static_cast<int>(position), new ConnectListItemWidget(*item, ui_->collectionView));
}

void ConnectListWidget::setDeviceCountTitle(const std::string& title)
{
    ui_->deviceCount->setText(QString::fromStdString(title));
}

void ConnectListWidget::showSwitch(SendersSwitch which, bool on)
{
    const bool split = which == SendersSwitch::SplitScreen;
    QToolButton* button = split ? ui_->divideBtn : ui_->reverseBtn;
    const char* image = split ? (on ? "SplitscreenOpen" : "SplitscreenClose") : (on ? "SwitchOpen" : "SwitchClose");
    button->setIcon(Images::icon(image));
    button->setChecked(on);
}

QList<ConnectListItemWidget*> ConnectListWidget::rows() const
{
    return ui_->collectionView->findChildren<ConnectListItemWidget*>(Qt::FindDirectChildrenOnly);
}
