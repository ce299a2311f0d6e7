#include "UI/Qt/SendersPanelView.h"

#include "Session/MainWindowController.h"
#include "UI/Qt/ConnectListWidget.h"
#include "UI/Qt/ForwardClicks.h"
#include "UI/Qt/Images.h"
#include "UI/Qt/UiText.h"
#include "Session/SendersController.h"
#include "ui_SendersController.h"

#include <QMouseEvent>
#include <QVBoxLayout>

SendersPanelView::SendersPanelView(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::SendersController>())
{
    ui_->setupUi(this);
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(this);

    ui_->ballBtn->setIcon(Images::icon("Ball"));
    ui_->ballBtn->setToolTip(UiText::localized("STRING_CONNECT_LIST_TITLE"));
    showSendersPanel({});

    forwardClicks(ui_->ballBtn, this, controller_, [](MainWindowController& c) { c.senders().clickBallbtn(); });
    // The count opens the panel as its button does.
    forwardClicks(ui_->connectNumBtn, this, controller_, [](MainWindowController& c) { c.senders().clickBallbtn(); });
    window()->installEventFilter(this);
}

SendersPanelView::~SendersPanelView() = default;

void SendersPanelView::setController(MainWindowController* controller)
{
    controller_ = controller;
    ui_->connectListView->setConnectList(controller ? &controller->senders().connectList() : nullptr);
}

ConnectListWidget* SendersPanelView::connectListView() const
{
    return ui_->connectListView;
}

void SendersPanelView::showSendersPanel(const SendersPanel& panel)
{
    ui_->connectListView->setVisible(panel.listShown);
    ui_->ballBtn->setVisible(panel.ballShown);
    ui_->connectNumBtn->setVisible(panel.countShown);
}

void SendersPanelView::showSendersSwitch(SendersSwitch which, bool on)
{
    ui_->connectListView->showSwitch(which, on);
}

void SendersPanelView::showSendersCount(size_t count)
{
    ui_->connectNumBtn->setText(QString::number(count));
}

void SendersPanelView::reloadData(const ConnectList& list)
{
    ui_->connectListView->reloadData(list);
}

void SendersPanelView::setDeviceCountTitle(const std::string& title)
{
    ui_->connectListView->setDeviceCountTitle(title);
}

bool SendersPanelView::eventFilter(QObject* watched, QEvent* event)
{
    // Presses that no control took reach the window; one outside the open panel folds it.
    if (event->type() == QEvent::MouseButtonPress && controller_ && ui_->connectListView->isVisible()) {
        const QPoint inPanel = ui_->connectListView->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        if (!ui_->connectListView->rect().contains(inPanel))
            controller_->senders().clickBesideConnectList();
    }
    return QWidget::eventFilter(watched, event);
}
