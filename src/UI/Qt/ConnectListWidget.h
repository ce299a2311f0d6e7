#pragma once

#include "Session/SendersView.h"

#include <QFrame>

#include <memory>
#include <string>

class ConnectList;
class ConnectListItemWidget;

namespace Ui {
class ConnectList;
}

// The open senders panel, laid out in ConnectList.ui: the title with the count of senders, one
// ConnectListItemWidget per sender in `collectionView`, the split-screen and reverse-control switches and
// the hide button. Main thread.
class ConnectListWidget final : public QFrame {
    Q_OBJECT
public:
    explicit ConnectListWidget(QWidget* parent = nullptr);
    ~ConnectListWidget() override;

    // Where the switches and the hide button go; nullptr: nowhere, and the rows, whose buttons speak to that
    // panel's link, go too. The panel outlives this use of it or is unset before it goes.
    void setConnectList(ConnectList* list);

    // ConnectListView
    void reloadData(const ConnectList& list);
    void setDeviceCountTitle(const std::string& title);
    // The switch's picture and state as the TV reports them.
    void showSwitch(SendersSwitch which, bool on);

    // The rows now shown, in order.
    QList<ConnectListItemWidget*> rows() const;

private:
    std::unique_ptr<Ui::ConnectList> ui_;
    ConnectList* connectList_ = nullptr;
};
