#pragma once

#include "Session/SendersView.h"

#include <QWidget>

#include <memory>
#include <string>

class ConnectListWidget;
class MainWindowController;

namespace Ui {
class SendersController;
}

// The senders panel on the connected page, laid out in SendersController.ui: the folded panel's button
// (`ballBtn`) with the count beside it (`connectNumBtn`), and the open panel (`connectListView`). A press
// in its window beside the open panel folds it. Main thread.
class SendersPanelView final : public QWidget {
    Q_OBJECT
public:
    // Fills parent, which takes it into a layout of its own; watches parent's window for presses.
    explicit SendersPanelView(QWidget* parent);
    ~SendersPanelView() override;

    // Where the panel's actions go from now on; nullptr: nowhere. The controller outlives this use of it
    // or is unset before it goes.
    void setController(MainWindowController* controller);

    ConnectListWidget* connectListView() const;

    // SendersView's panel part.
    void showSendersPanel(const SendersPanel& panel);
    void showSendersSwitch(SendersSwitch which, bool on);
    void showSendersCount(size_t count);
    void reloadData(const ConnectList& list);
    void setDeviceCountTitle(const std::string& title);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::SendersController> ui_;
    MainWindowController* controller_ = nullptr;
};
