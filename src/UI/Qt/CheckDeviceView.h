#pragma once

#include "Socket/TvDeviceInfo.h"

#include <QWidget>

#include <memory>
#include <vector>

class CollectionViewItem;

namespace Ui {
class CheckDeviceViewController;
}

// The device list screen: one CollectionViewItem a TV, 790 x 80 points each, one under the other in a
// scroll view with the slim white knob. It shows a copy of the list taken on the main thread, so the
// discovery queue may change the list itself at any time. Main thread.
class CheckDeviceView final : public QWidget {
    Q_OBJECT
public:
    explicit CheckDeviceView(QWidget* parent = nullptr);
    ~CheckDeviceView() override;
    // A new screen filling the holder, a place the window keeps for it.
    static CheckDeviceView* placeIn(QWidget* holder);

    // Shows these TVs in this order; every connect button is back at rest.
    void reloadData(const std::vector<TvDeviceInfo>& devices);
    int numberOfItems() const { return static_cast<int>(items_.size()); }
    // The row at that position; nullptr past the end.
    CollectionViewItem* item(int index) const;

Q_SIGNALS:
    // A row's connect button: connect to the TV at this address.
    void connectDevice(const QString& address);

private:
    std::unique_ptr<Ui::CheckDeviceViewController> ui_;
    // The rows on show, kept for the next reload (a reload refills them rather than making new ones).
    std::vector<CollectionViewItem*> items_;
};
