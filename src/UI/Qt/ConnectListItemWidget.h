#pragma once

#include "UI/ConnectListItem.h"

#include <QWidget>

#include <memory>

namespace Ui {
class ConnectListItem;
}

// One row of the senders panel, laid out in ConnectListItem.ui: shows its ConnectListItem and hands each
// button's click to it. Rows are made anew on each reload. Main thread.
class ConnectListItemWidget final : public QWidget {
    Q_OBJECT
public:
    explicit ConnectListItemWidget(ConnectListItem item, QWidget* parent = nullptr);
    ~ConnectListItemWidget() override;

    const ConnectListItem& item() const { return item_; }

private:
    std::unique_ptr<Ui::ConnectListItem> ui_;
    ConnectListItem item_;
};
