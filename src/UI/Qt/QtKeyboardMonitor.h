#pragma once

#include "UI/KeyboardMonitor.h"

#include <QObject>

#include <optional>

class QKeyEvent;

// The application's key monitor on Qt: an event filter on the whole application that reports each key
// of its windows in the Mac's terms and passes the event on unchanged. Main thread.
class QtKeyboardMonitor final : public QObject, public KeyboardMonitor {
public:
    QtKeyboardMonitor();
    ~QtKeyboardMonitor() override;

    void install(Handler handler) override;
    void remove() override;

    // The event as the monitor reports it; nullopt for a key the table does not know, for the
    // releases of auto-repeat (a held key repeats its key-down only) and for Caps Lock's release (the
    // lock reports once per toggle, as a change of its flag).
    std::optional<Event> translate(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler handler_;
    // The Caps Lock state: read from each X key event (its state holds the lock as it was before the
    // key); where events carry no X state, followed by counting the toggles.
    bool capsLock_ = false;
};
