#include "UI/Qt/TopLevelWindows.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

void TopLevelWindows::showCentred(QWidget& window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void TopLevelWindows::closeAllBut(const QWidget& kept)
{
    // Closing one window may delete others (a window deleted on close takes its own windows along).
    QList<QPointer<QWidget>> others;
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != &kept)
            others.append(other);
    }
    for (const QPointer<QWidget>& other : others) {
        if (other && other->isVisible())
            other->close();
    }
}

namespace {

void onKeys(QWidget& window, std::initializer_list<Qt::Key> keys, const std::function<void()>& action)
{
    for (const Qt::Key key : keys) {
        auto* shortcut = new QShortcut(QKeySequence(key), &window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, &window, action);
    }
}

} // namespace

void TopLevelWindows::onEscape(QWidget& window, std::function<void()> action)
{
    onKeys(window, {Qt::Key_Escape}, action);
}

void TopLevelWindows::onReturn(QWidget& window, std::function<void()> action)
{
    onKeys(window, {Qt::Key_Return, Qt::Key_Enter}, action);
}
