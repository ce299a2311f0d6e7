#pragma once

#include "UI/WindowCollectionDisplay.h"
#include "UI/Qt/WindowThumbnails.h"

#include <QWidget>

#include <memory>
#include <vector>

class BgraFrame;
class windowCollectionView;
class windowViewItem;

namespace Ui {
class windowCollectionView;
}

// The window picker as the window page shows it: the Extend tile above a grid of windowViewItem,
// filled from the picker's rules (windowCollectionView), to which it hands the user's clicks.
// Main thread.
class WindowPicker final : public QWidget, public WindowCollectionDisplay {
    Q_OBJECT
public:
    // The grid's geometry, in the scroll view's document.
    static constexpr int kItemWidth = 180;
    static constexpr int kItemHeight = 130;
    static constexpr int kGridTop = 210;
    static constexpr int kGridLeft = 32;
    static constexpr int kLineSpacing = 16;

    explicit WindowPicker(QWidget* parent = nullptr);
    ~WindowPicker() override;

    // The rules shown and told; nullptr: none (the grid empties). Not owned.
    void setPicker(windowCollectionView* picker);

    // The Extend tile's picture: a snapshot of the extended screen.
    void setExtendSnapshot(const BgraFrame& picture);
    // The tile usable, or disabled with a tip saying why.
    void setExtendAvailable(bool available);

    // WindowCollectionDisplay
    void reloadData() override;
    void selectItem(size_t index) override;
    void deselectAll() override;
    void showExtendSelected(bool selected) override;

    const std::vector<windowViewItem*>& items() const { return items_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutItems();

    std::unique_ptr<Ui::windowCollectionView> ui_;
    windowCollectionView* picker_ = nullptr;
    std::vector<windowViewItem*> items_;
    WindowThumbnails thumbnails_;
};
