#pragma once

#include <QAbstractButton>

#include <functional>
#include <type_traits>

// Connects a view's button to its controller: each click runs `action` (a member function, or a
// callable taking the controller and, where it can, the button's checked state) on the controller
// the view holds at that moment; a click while the view holds none does nothing. `controller` is
// the view's own slot, read at each click, and the connection ends with `view`, which owns the slot.
template <typename Controller, typename Action>
void forwardClicks(QAbstractButton* button, QObject* view, Controller* const& controller, Action action)
{
    QObject::connect(button, &QAbstractButton::clicked, view, [&controller, action](bool checked) {
        if (controller == nullptr)
            return;
        if constexpr (std::is_invocable_v<Action, Controller&, bool>)
            std::invoke(action, *controller, checked);
        else
            std::invoke(action, *controller);
    });
}
