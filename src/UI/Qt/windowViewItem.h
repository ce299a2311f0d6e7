#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

class QImage;

namespace Ui {
class windowViewItem;
}

// One window in the picker's grid: its thumbnail over its program's name, blue when selected and
// window grey when not. A click asks for it to be chosen. Main thread.
class windowViewItem final : public QWidget {
    Q_OBJECT
public:
    explicit windowViewItem(QWidget* parent = nullptr);
    ~windowViewItem() override;

    void setWindowId(int32_t windowId) { windowId_ = windowId; }
    int32_t windowId() const { return windowId_; }
    void setWindowName(const QString& name);
    // Scaled to fit the thumbnail's place; a null image shows none.
    void setThumbnail(const QImage& image);
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::windowViewItem> ui_;
    int32_t windowId_ = 0;
    bool selected_ = false;
};
