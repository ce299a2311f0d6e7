#include "UI/Qt/TopLevelWindows.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
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
