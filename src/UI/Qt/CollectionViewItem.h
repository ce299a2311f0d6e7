#pragma once

#include "Socket/TvDeviceInfo.h"

#include <QWidget>

#include <memory>

class QPushButton;
class SpinAnimation;

namespace Ui {
class CollectionViewItem;
}

// One TV of the device list: its name, its address and the connect button. A click shows the
// "Loading" picture turning in the button until the list shows the TVs again. Main thread.
class CollectionViewItem final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kItemSize{790, 80};

    explicit CollectionViewItem(QWidget* parent = nullptr);
    ~CollectionViewItem() override;

    // Shows this TV, with the connect button at rest (its title, no picture).
    void represent(const TvDeviceInfo& tv);
    QString address() const;
    QPushButton* connectBtn() const;
    // The button shows the "Loading" picture: a connect asked for here has no answer yet.
    bool isLoading() const;

    QSize sizeHint() const override { return kItemSize; }

Q_SIGNALS:
    // The connect button was clicked: connect to the TV at this address.
    void connectDevice(const QString& address);

protected:
    // A styled background needs painting of its own in a plain QWidget subclass.
    void paintEvent(QPaintEvent* event) override;

private:
    void connectClicked();

    std::unique_ptr<Ui::CollectionViewItem> ui_;
    SpinAnimation* loading_ = nullptr;
};
