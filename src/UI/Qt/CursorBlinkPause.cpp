#include "UI/Qt/CursorBlinkPause.h"

#include <QApplication>
#include <QEvent>

CursorBlinkPause::CursorBlinkPause(std::chrono::milliseconds idle) : flashTime_(QApplication::cursorFlashTime())
{
    idle_.setSingleShot(true);
    idle_.setInterval(idle);
    // Changing the flash time reaches every cursor that blinks now.
    connect(&idle_, &QTimer::timeout, this, [] { QApplication::setCursorFlashTime(0); });
    qApp->installEventFilter(this);
    idle_.start();
}

CursorBlinkPause::~CursorBlinkPause()
{
    qApp->removeEventFilter(this);
    QApplication::setCursorFlashTime(flashTime_);
}

bool CursorBlinkPause::eventFilter(QObject* /*watched*/, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::FocusIn:
    case QEvent::InputMethod:
        resume();
        break;
    default:
        break;
    }
    return false;
}

void CursorBlinkPause::resume()
{
    if (QApplication::cursorFlashTime() != flashTime_)
        QApplication::setCursorFlashTime(flashTime_);
    idle_.start();
}
