#include "UI/Qt/ReadingOrder.h"

#include <QScrollArea>
#include <QWidget>

#include <algorithm>

namespace {

struct Placed {
    QWidget* widget;
    QRect frame; // in the window's coordinates
};

bool takesTab(const QWidget& widget, const QWidget& window)
{
    return widget.window() == &window && widget.isVisible() && widget.isEnabled() && !widget.focusProxy()
           && (widget.focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

// A control inside a scrolled list is scrolled into view when it takes the keys.
void scrollIntoView(QWidget& widget)
{
    for (QWidget* parent = widget.parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(parent))
            area->ensureWidgetVisible(&widget);
    }
}

} // namespace

std::vector<QWidget*> ReadingOrder::controls(const QWidget& window)
{
    std::vector<Placed> placed;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (takesTab(*widget, window))
            placed.push_back({widget, QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size())});
    }
    std::ranges::stable_sort(placed, {}, [](const Placed& p) { return p.frame.top(); });
    // A row: the controls whose middles lie within the height of the row's controls so far.
    std::vector<QWidget*> ordered;
    for (size_t first = 0; first < placed.size();) {
        int bottom = placed[first].frame.bottom();
        size_t end = first + 1;
        while (end < placed.size() && placed[end].frame.center().y() <= bottom) {
            bottom = std::max(bottom, placed[end].frame.bottom());
            ++end;
        }
        std::stable_sort(placed.begin() + static_cast<long>(first), placed.begin() + static_cast<long>(end),
                         [](const Placed& a, const Placed& b) { return a.frame.left() < b.frame.left(); });
        for (size_t i = first; i < end; ++i)
            ordered.push_back(placed[i].widget);
        first = end;
    }
    return ordered;
}

bool ReadingOrder::moveFocus(QWidget& window, bool forward)
{
    const std::vector<QWidget*> order = controls(window);
    if (order.empty())
        return false;
    const auto at = std::ranges::find(order, window.focusWidget());
    size_t next = 0;
    if (at == order.end())
        next = forward ? 0 : order.size() - 1;
    else if (forward)
        next = (static_cast<size_t>(at - order.begin()) + 1) % order.size();
    else
        next = (static_cast<size_t>(at - order.begin()) + order.size() - 1) % order.size();
    QWidget* widget = order[next];
    widget->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    scrollIntoView(*widget);
    return true;
}
