#include "UI/Qt/ConnectListItemWidget.h"

#include "UI/Qt/Images.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/UiText.h"
#include "ui_ConnectListItem.h"

#include <QColor>

#include <utility>

namespace {

void showButton(QToolButton* button, const ConnectListItem::Button& state)
{
    button->setIcon(Images::icon(state.image));
    button->setEnabled(state.enabled);
}

} // namespace

ConnectListItemWidget::ConnectListItemWidget(ConnectListItem item, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::ConnectListItem>()), item_(std::move(item))
{
    ui_->setupUi(this);
    ui_->numLabel->setText(QString::fromStdString(item_.numLabel()));
    ui_->nameLabel->setText(QString::fromStdString(item_.nameLabel()));
    const QColor color = item_.textColor() == ConnectListItem::TextColor::Blue ? PColors::getBlueColor() : Qt::white;
    const QString textStyle = "color: " + color.name() + ";";
    ui_->numLabel->setStyleSheet(textStyle);
    ui_->nameLabel->setStyleSheet(textStyle);
    showButton(ui_->lockBtn, item_.lockBtn());
    showButton(ui_->speakerBtn, item_.speakerBtn());
    showButton(ui_->mirrorBtn, item_.mirrorBtn());
    showButton(ui_->reverseBtn, item_.reverseBtn());
    showButton(ui_->deleteBtn, {"DeleteIcon", true});
    // Pictures alone: the tip names what each does.
    const std::pair<QToolButton*, const char*> tips[] = {{ui_->lockBtn, "STRING_SENDER_LOCK"},
                                                          {ui_->mirrorBtn, "STRING_SENDER_MIRROR"},
                                                          {ui_->reverseBtn, "STRING_SENDER_REVERSE"},
                                                          {ui_->speakerBtn, "STRING_SENDER_SPEAKER"},
                                                          {ui_->deleteBtn, "STRING_SENDER_REMOVE"}};
    for (const auto& [button, tip] : tips)
        button->setToolTip(UiText::localized(tip));

    connect(ui_->mirrorBtn, &QToolButton::clicked, this, [this] { item_.mirrorScreen(); });
    connect(ui_->reverseBtn, &QToolButton::clicked, this, [this] { item_.reverseScreen(); });
    connect(ui_->lockBtn, &QToolButton::clicked, this, [this] { item_.lockEvent(); });
    connect(ui_->speakerBtn, &QToolButton::clicked, this, [this] { item_.speakerEvent(); });
    connect(ui_->deleteBtn, &QToolButton::clicked, this, [this] { item_.deleteEvent(); });
}

ConnectListItemWidget::~ConnectListItemWidget() = default;
